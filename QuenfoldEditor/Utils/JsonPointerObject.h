#ifndef QuenfoldEditor_Utils_JsonPointerObject_h
#define QuenfoldEditor_Utils_JsonPointerObject_h
/** @file
 * @brief Class @ref QuenfoldEngine::JsonPointerObject
 */

#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/JsonObject.h"

namespace QuenfoldEngine {

/**
@brief Handle on a value of a RapidJSON document, addressed by a slash path

The path is JSON Pointer syntax: member names (or array indices) each
preceded by a slash, with @cb{.txt} ~0 @ce for a tilde and @cb{.txt} ~1 @ce
for a slash inside a name (a tilde followed by anything else stands for
itself); the empty path is the root, and a path not beginning with a slash
gets one. A component indexes an array when it is a decimal number without
a leading zero; on an object it is always a member name. The path is
resolved on every access, without allocating, so the handle follows changes
of the document.

@ref readValue() gives a null value when nothing is at the path;
@ref writeValue() creates the value, and missing parent objects, as null.
Creating turns into an object a parent that is not a container, or an
array whose component is not an index. On an array, the index equal to its
size and the component @cb{.txt} - @ce append an element; an index past
that is refused: @ref writeValue() prints
"JsonPointerObject::writeValue(): Index 7 past the end of an array of 2 elements, nothing written to /a/7"
and gives a value outside the document, so that the setter changes
nothing. The @p writeFlag of the setters is ignored: it is the hook of the
editor's own handles (for instance for undo records). The document must
outlive the handle.
*/
class QUENFOLDEDITORUTILS_EXPORT JsonPointerObject: public JsonObject {
    public:
        /** @brief Handle on the value at @p path in @p document */
        explicit JsonPointerObject(rapidjson::Document& document, Corrade::Containers::StringView path = {});

        ~JsonPointerObject() override;

        bool exists() const override;
        Corrade::Containers::String path() const override;
        /** @brief Handle on this handle's path followed by @p path */
        Corrade::Containers::Pointer<JsonObject> child(Corrade::Containers::StringView path) override;
        rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator() override;
        const rapidjson::Value& readValue() const override;
        rapidjson::Value& writeValue(bool writeFlag) override;

    private:
        rapidjson::Document& _document;
        Corrade::Containers::String _path;
};

}

#endif
