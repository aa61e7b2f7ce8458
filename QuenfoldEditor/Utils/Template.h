#ifndef QuenfoldEditor_Utils_Template_h
#define QuenfoldEditor_Utils_Template_h
/** @file
 * @brief Class @ref QuenfoldEngine::Template
 */

#include <initializer_list>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/Reference.h>

#include "QuenfoldEngine/StringArray.h"
#include "QuenfoldEditor/Utils/visibility.h"

namespace QuenfoldEngine {

class JsonObject;

/**
@brief Text template rendered against JSON contexts

The source is split once into literal text and @cb{.txt} {{ ... }} @ce
directives, each kept as a list of tokens separated by spaces or tabs. A
directive is one of:

-   an expression: a name, a string literal, or a comparison of two
    operands. A name is a dotted path (@cb{.txt} node.name @ce) looked up in
    the contexts in order, the first context that has it winning; a string
    literal is quoted with @cb{.txt} ' @ce or @cb{.txt} " @ce and has no
    escapes nor blanks. @cb{.txt} a == b @ce gives @cb{.txt} true @ce when
    the texts are equal, any other operator gives @cb{.txt} true @ce when
    they differ. Strings render as they are, booleans as @cb{.txt} true @ce
    or @cb{.txt} false @ce, numbers stored as doubles with four decimals;
    other values fail.
-   @cb{.txt} if \<expression\> @ce: when the expression's text is not exactly
    @cb{.txt} true @ce, everything up to the next @cb{.txt} end @ce
    directive is left out. Sections do not nest.
-   @cb{.txt} end @ce: closes a section.

Nothing is evaluated while parsing: names are looked up afresh on every
render, so the same template can be rendered against changing documents.
The template keeps copies of its text and no reference to the source or to
the contexts. Neither copyable nor movable.

Memory: a template parsed from a source of S bytes holds at most S + 1 bytes
of text, and 4 bytes for each directive plus 8 (8 bytes each for sources of
4 GB and more, up to twice as much while that table grows), in two
allocations. Rendering allocates its output once, S + 1 bytes, and again
only when the values written outgrow their directives; a name, a literal or
a comparison allocates nothing of its own unless a name in a comparison or
with a slash is over a hundred bytes long, or a compared text over 128.
*/
class QUENFOLDEDITORUTILS_EXPORT Template {
    public:
        /**
         * @brief Parse @p source
         *
         * The view must be flagged
         * @cpp Corrade::Containers::StringViewFlag::NullTerminated @ce; text after
         * an embedded zero byte is ignored. A directive without its closing
         * @cb{.txt} }} @ce prints
         * "Template::Template(): Syntax error: Unterminated template directive"
         * and makes the template invalid; what was parsed before it is kept.
         */
        explicit Template(Corrade::Containers::StringView source);

        /** @brief Destructor; frees the parsed text */
        ~Template();

        Template(const Template&) = delete;
        Template(Template&&) = delete;
        Template& operator=(const Template&) = delete;
        Template& operator=(Template&&) = delete;

        /** @brief Whether the whole source was parsed */
        bool valid() const { return _valid; }

        /**
         * @brief Render against @p contexts, the first searched first
         *
         * Returns the empty string after printing the reason on the error
         * output when a directive fails to evaluate or a false condition has
         * no @cb{.txt} end @ce after it. Directives in a left-out section are
         * not evaluated. The reasons:
         *
         * -    "Template::render(): Undefined name" and the name, when no
         *      context has it;
         * -    "Template::render(): Unsupported type for" and the name, when
         *      the first context that has it holds null, an integer, an
         *      array or an object;
         * -    "Template::render(): Unterminated string literal";
         * -    "Template::render(): Number of tokens for expression
         *      unsupported:" and the count, for an expression of other than
         *      one or three tokens;
         * -    "Template::render(): Missing 'end'", for a false condition
         *      with no @cb{.txt} end @ce after it.
         *
         * An output larger than the memory fails the render too, after
         * "Template::render(): cannot allocate" and the size in bytes.
         */
        Corrade::Containers::String render(Corrade::Containers::ArrayView<const Corrade::Containers::Reference<JsonObject>> contexts);

        /** @brief Render against a single context */
        Corrade::Containers::String render(JsonObject& context);

        /** @brief Render against contexts searched in the order written */
        Corrade::Containers::String render(std::initializer_list<const Corrade::Containers::Reference<JsonObject>> contexts);

    private:
        /* One string for the text in front of the first directive, then
           one for each directive and the text after it. A directive is a
           kind byte and a zero-terminated path or tokens: a name, or "if"
           and a name, keep the path the lookup asks for, with no dots (a
           name's leading slash is its kind); the others keep their tokens
           with the blanks between them and none around, split at each
           render, which costs less than a table of where they are. A
           directive so stored takes at least a byte less than it did in
           the source, braces included, which leaves room for the zero
           ending its string: all fit in the source size plus one that the
           store reserves. */
        StringArray _parts;
        bool _valid;
};

}

#endif
