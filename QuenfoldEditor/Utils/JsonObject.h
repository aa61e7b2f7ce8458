#ifndef QuenfoldEditor_Utils_JsonObject_h
#define QuenfoldEditor_Utils_JsonObject_h
/** @file
 * @brief Class @ref QuenfoldEngine::JsonObject
 */

#include <cstddef>
#include <rapidjson/fwd.h>
#include <Corrade/Containers/Containers.h>
#include <Magnum/Magnum.h>

#include "QuenfoldEditor/Utils/visibility.h"

namespace QuenfoldEngine {

/**
@brief Handle on one value of a JSON document owned by somebody else

Subclasses say where the value is read from (@ref readValue()), where it is
written to (@ref writeValue()), which allocator its document uses
(@ref allocator()) and how paths resolve (@ref child()). The typed getters
and setters are written once on top of them. Getters return references and
views into the document, valid while the value is unchanged. No accessor
reports an error by failing: a value of the wrong kind reads as null, zero or
an empty string, and never outside the value.
*/
class QUENFOLDEDITORUTILS_EXPORT JsonObject {
    public:
        /** @brief Constructor; the handle has no state of its own */
        JsonObject();
        /** @brief Copies nothing: the handle has no state of its own */
        JsonObject(const JsonObject&);
        /** @brief Copies nothing */
        JsonObject& operator=(const JsonObject&);
        /** @brief Destructor; the document is not touched */
        virtual ~JsonObject();

        /** @brief Whether the handle refers to a value present in the document */
        virtual bool exists() const = 0;

        /** @brief Location of the value as a slash path, for messages */
        virtual Corrade::Containers::String path() const = 0;

        /**
         * @brief Handle on the value at @p path below this one
         *
         * @p path is a sequence of member names, each preceded by a slash.
         * Always returns a handle; its @ref exists() is false when nothing is
         * there.
         */
        virtual Corrade::Containers::Pointer<JsonObject> child(Corrade::Containers::StringView path) = 0;

        /** @brief Allocator of the document holding @ref writeValue() */
        virtual rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator() = 0;

        /** @brief Value every getter reads */
        virtual const rapidjson::Value& readValue() const = 0;

        /**
         * @brief Value every setter overwrites in place
         *
         * Setters pass their trailing @p writeFlag through unchanged; its
         * meaning belongs to the subclass.
         */
        virtual rapidjson::Value& writeValue(bool writeFlag) = 0;

        /** @brief 1 if the value is JSON @cpp true @ce, 0 otherwise */
        int asBool() const;

        /**
         * @brief Integer value
         *
         * @p defaultValue for null only; otherwise the low 32 bits of an
         * integer, and 0 for any other kind of value.
         */
        int asInt(int defaultValue) const;

        /** @brief Unsigned integer value, by the rules of @ref asInt() */
        unsigned int asUnsignedInt(unsigned int defaultValue) const;

        /** @brief Number through @cpp double @ce, rounded to @cpp float @ce; 0 for non-numbers */
        float asFloat() const;

        /**
         * @brief String value
         *
         * For a string, a view on its bytes inside the document with no
         * flags set; otherwise the default (null, global) view.
         */
        Corrade::Containers::StringView asString() const;

        /** @brief Whether the value is JSON null */
        bool isNull() const;

        /** @brief Number of elements of an array or members of an object; 0 otherwise */
        std::size_t size() const;

        /** @brief Set to JSON @cpp true @ce or @cpp false @ce */
        void setBool(bool value, bool writeFlag);

        /** @brief Set to an integer */
        void setInt(int value, bool writeFlag);

        /** @brief Set to a number equal to @p value, stored as @cpp double @ce */
        void setFloat(float value, bool writeFlag);

        /** @brief Set to JSON null */
        void setNull(bool writeFlag);

        /**
         * @brief Set to a copy of all bytes of @p value
         *
         * A view with null data gives the empty string.
         */
        void setString(Corrade::Containers::StringView value, bool writeFlag);

        /**
         * @brief Numbers of an array, into caller memory
         *
         * If the sizes differ, prints
         * "JsonObject::asFloatArray(): Sizes do not match" and leaves
         * @p out untouched. Null counts as an array of size 0, and so does
         * any other value that is not an array.
         */
        void asFloatArray(Corrade::Containers::ArrayView<float> out) const;

        /** @brief Low 32 bits of the integers of an array, into caller memory */
        void asIntArray(Corrade::Containers::ArrayView<int> out) const;

        /** @brief Unsigned integers of an array, into caller memory */
        void asUnsignedIntArray(Corrade::Containers::ArrayView<unsigned int> out) const;

        /**
         * @brief Zero-terminated strings of an array, pointing into the document
         *
         * Elements that are not strings read as an empty string.
         */
        void asStringArray(Corrade::Containers::ArrayView<const char*> out) const;

        /**
         * @brief Strings of an array as views flagged null-terminated
         *
         * Elements that are not strings read as an empty view.
         */
        void asStringArray(Corrade::Containers::ArrayView<Corrade::Containers::StringView> out) const;

        /** @brief Numbers of an array in a new array */
        Corrade::Containers::Array<float> asFloatArray() const;

        /** @brief Integers of an array in a new array */
        Corrade::Containers::Array<int> asIntArray() const;

        /** @brief Unsigned integers of an array in a new array */
        Corrade::Containers::Array<unsigned int> asUnsignedIntArray() const;

        /** @brief Two-component vector from an array of two numbers */
        Magnum::Math::Vector2<float> asVector2() const;

        /** @brief Two-component integer vector from an array of two integers */
        Magnum::Math::Vector2<int> asVector2i() const;

        /** @brief Three-component vector from an array of three numbers */
        Magnum::Math::Vector3<float> asVector3() const;

        /** @brief Four-component vector from an array of four numbers */
        Magnum::Math::Vector4<float> asVector4() const;

        /**
         * @brief Quaternion from an array of x, y, z, then the scalar w
         *
         * Further elements are ignored, missing ones read as 0.
         */
        Magnum::Math::Quaternion<float> asQuaternion() const;

        /** @brief Matrix from an array of sixteen numbers, column-major */
        Magnum::Math::Matrix4<float> asMatrix4() const;

        /** @brief Set to an array of numbers, each stored as @cpp double @ce */
        void setFloatArray(Corrade::Containers::ArrayView<const float> values, bool writeFlag);

        /** @brief Set to an array of integers */
        void setIntArray(Corrade::Containers::ArrayView<const int> values, bool writeFlag);

        /** @brief Set to an array of integers from 0 to 255 */
        void setUnsignedCharArray(Corrade::Containers::ArrayView<const unsigned char> values, bool writeFlag);

        /** @brief Same as @ref setUnsignedCharArray() */
        void setArray(Corrade::Containers::ArrayView<const unsigned char> values, bool writeFlag);

        /** @brief Same as @ref setIntArray() */
        void setArray(Corrade::Containers::ArrayView<const int> values, bool writeFlag);

        /** @brief Same as @ref setFloatArray() */
        void setArray(Corrade::Containers::ArrayView<const float> values, bool writeFlag);

        /** @brief Set to the sixteen numbers of @p matrix, column-major */
        void setMatrix(const Magnum::Math::Matrix4<float>& matrix, bool writeFlag);

        /**
         * @brief Append a copy of @p value to a list of strings
         *
         * When @ref readValue() and @ref writeValue() are different values,
         * the read list is first copied into the written one. A value that
         * is not an array becomes an empty one first.
         */
        void pushBackString(Corrade::Containers::StringView value, bool writeFlag);

        /**
         * @brief Append a copy of @p value unless an element equals it
         *
         * Elements compare as their text up to the first zero byte,
         * case-sensitively; elements that are not strings never equal.
         */
        void pushBackStringUnique(Corrade::Containers::StringView value, bool writeFlag);
};

}

#endif
