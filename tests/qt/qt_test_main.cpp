// The program's own application object for all window tests, drawn off
// screen unless the environment names a platform.
#include <gtest/gtest.h>

#include "ui/qt/vesk_app.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    vesk::CveskApp app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
