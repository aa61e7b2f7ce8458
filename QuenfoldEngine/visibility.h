#ifndef QuenfoldEngine_visibility_h
#define QuenfoldEngine_visibility_h

#ifdef _WIN32
    #ifdef QuenfoldEngine_EXPORTS
        #define QUENFOLDENGINE_EXPORT __declspec(dllexport)
    #else
        #define QUENFOLDENGINE_EXPORT __declspec(dllimport)
    #endif
#else
    #define QUENFOLDENGINE_EXPORT __attribute__((visibility("default")))
#endif

#endif
