/* Reading and writing values of an editor document through JsonObject */

#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Magnum/Math/Vector3.h>
#include <rapidjson/document.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/RapidJsonUtils.h"

using namespace Corrade;
using namespace QuenfoldEngine;

int main() {
/** [json] */
rapidjson::Document document;
document.Parse(R"({"light": {"color": [1.0, 0.5, 0.25], "intensity": 2}})");

JsonPointerObject light{document, "/light"};
Magnum::Math::Vector3<float> color = light.child("/color")->asVector3();
int intensity = light.child("/intensity")->asInt(1);
Utility::Debug{} << "color" << color.x() << color.y() << color.z()
    << "intensity" << intensity;

/* Setters create what is missing on the way */
light.child("/name")->setString("Key light", false);
light.child("/shadows/enabled")->setBool(true, false);
Utility::Debug{} << light.readValue();
/** [json] */
}
