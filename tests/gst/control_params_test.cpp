#include "gst/control_params.h"

#include <gtest/gtest.h>

#include "gst_test_support.h"

namespace bayercam::gst::test {
namespace {

GObjectClass* SourceClass() {
    InitGst();
    return G_OBJECT_CLASS(g_type_class_peek(BAYERCAM_TYPE_SRC));
}

TEST(ControlParamsTest, PropertiesCarryTheControlsRangeAndDefault) {
    struct Case {
        const char* property;
        GType type;
        int minimum, maximum, byDefault;
        bool writable;
    } cases[] = {
        {"exposure", G_TYPE_INT, 8, 1074, 8, true},
        {"global-gain", G_TYPE_INT, 0, 1023, 512, true},
        {"red-gain", G_TYPE_INT, 1, 512, 128, true},
        {"timeout", G_TYPE_INT, 501, 9999, 3000, true},
        {"clock", G_TYPE_INT, 0, 5, 0, true},
        {"register-shadow", G_TYPE_INT, 0, 1023, 0, true},
        {"sensor-width", G_TYPE_INT, 0, G_MAXINT, 1360, false},
        {"readout-height", G_TYPE_INT, 0, G_MAXINT, 1024, false},
        {"white-balance", G_TYPE_BOOLEAN, 0, 1, 0, true},
        {"color-enable", G_TYPE_BOOLEAN, 0, 1, 1, true},
        {"geometry-locked", G_TYPE_BOOLEAN, 0, 1, 0, false},
    };
    GObjectClass* source = SourceClass();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.property);
        GParamSpec* param = g_object_class_find_property(source, c.property);
        ASSERT_NE(param, nullptr);
        ASSERT_EQ(G_PARAM_SPEC_VALUE_TYPE(param), c.type);
        EXPECT_EQ((param->flags & G_PARAM_WRITABLE) != 0, c.writable);
        if (c.type == G_TYPE_BOOLEAN) {
            EXPECT_EQ(G_PARAM_SPEC_BOOLEAN(param)->default_value, c.byDefault != 0);
            continue;
        }
        GParamSpecInt* range = G_PARAM_SPEC_INT(param);
        EXPECT_EQ(range->minimum, c.minimum);
        EXPECT_EQ(range->maximum, c.maximum);
        EXPECT_EQ(range->default_value, c.byDefault);
    }
}

}  // namespace
}  // namespace bayercam::gst::test
