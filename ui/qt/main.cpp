#include "ui/qt/vesk_app.h"

int main(int argc, char** argv)
{
    vesk::CveskApp app(argc, argv);
    return app.InitInstance();
}
