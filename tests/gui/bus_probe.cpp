// One identify through the GUI's command layer, its status on standard
// output: lets a test call the service as another user.
#include <QCoreApplication>

#include <cstdio>

#include "security_cmd.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    _USER_DATA_ data = {};
    data.dev_name = argc > 1 ? argv[1] : "";
    data.cmd_name = "identify";
    data.sub_name = "identify";
    printf("%d\n", identify(&data));
    return 0;
}
