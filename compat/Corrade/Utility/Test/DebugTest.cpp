#include <sstream>
#include <string>
#include <gtest/gtest.h>

#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

using namespace Corrade;
using namespace std::string_literals;

TEST(Debug, SeparatorsAndNewline) {
    std::ostringstream out;
    Utility::Debug{&out} << "a" << 1 << 'x' << true << 2.0 << 1.0/3 << 0.5f << 1e20;
    Utility::Debug{&out} << "a" << "" << "b";
    Utility::Debug{&out} << "j" << Utility::Debug::newline << "k";
    Utility::Debug{&out} << Containers::StringView{} << "after" << Containers::StringView{"z\0z", 3};
    Utility::Debug{&out} << reinterpret_cast<const void*>(0x10) << nullptr;
    /* Nothing printed, no newline */
    Utility::Debug{&out};
    EXPECT_EQ(out.str(),
        "a 1 120 true 2 0.333333333333333 0.5 1e+20\n"
        "a  b\n"
        "j\nk\n"
        " after z\0z\n"s
        "0x10 nullptr\n");
}

TEST(Debug, RedirectionIsScopedPerClass) {
    std::ostringstream errors, warnings;
    {
        Utility::Error redirectError{&errors};
        Utility::Error{} << "first";
        {
            Utility::Warning redirectWarning{&warnings};
            Utility::Warning{} << "warned";
            Utility::Error{} << "second";
        }
        Utility::Error silence{nullptr};
        Utility::Error{} << "nowhere";
    }
    EXPECT_EQ(errors.str(), "first\nsecond\n");
    EXPECT_EQ(warnings.str(), "warned\n");
    EXPECT_EQ(Utility::Error::output(), Utility::Error::defaultOutput());
    EXPECT_EQ(Utility::Warning::output(), Utility::Warning::defaultOutput());
}
