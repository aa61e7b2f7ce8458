/* Rendering a template against two JSON documents through Template */

#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <rapidjson/document.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"

using namespace Corrade;
using namespace Corrade::Containers::Literals;
using namespace QuenfoldEngine;

int main() {
/** [template] */
rapidjson::Document settings, defaults;
settings.Parse(R"({"material": {"name": "Brick", "roughness": 0.85}})");
defaults.Parse(R"({"material": {"roughness": 0.5, "blend": "alpha"}})");
JsonPointerObject settingsContext{settings}, defaultsContext{defaults};

/* Parsed once; names are looked up afresh on every render, in the
   settings first, then in the defaults */
Template material{"material \"{{ material.name }}\" roughness {{ material.roughness }}"
    "{{ if material.blend == 'alpha' }} blended{{ end }}"_s};
Containers::String text = material.render({settingsContext, defaultsContext});
Utility::Debug{} << text;
/** [template] */
return text.isEmpty() ? 1 : 0;
}
