#ifndef Corrade_Utility_visibility_h
#define Corrade_Utility_visibility_h

#ifdef _WIN32
    #ifdef CorradeUtility_EXPORTS
        #define CORRADE_UTILITY_EXPORT __declspec(dllexport)
    #else
        #define CORRADE_UTILITY_EXPORT __declspec(dllimport)
    #endif
#else
    #define CORRADE_UTILITY_EXPORT __attribute__((visibility("default")))
#endif

#endif
