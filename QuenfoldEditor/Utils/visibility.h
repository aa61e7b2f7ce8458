#ifndef QuenfoldEditor_Utils_visibility_h
#define QuenfoldEditor_Utils_visibility_h

#ifdef QUENFOLDEDITORUTILS_STATIC
    #define QUENFOLDEDITORUTILS_EXPORT
#elif defined(_WIN32)
    #ifdef QuenfoldEditorUtils_EXPORTS
        #define QUENFOLDEDITORUTILS_EXPORT __declspec(dllexport)
    #else
        #define QUENFOLDEDITORUTILS_EXPORT __declspec(dllimport)
    #endif
#else
    #define QUENFOLDEDITORUTILS_EXPORT __attribute__((visibility("default")))
#endif

#endif
