// Asks the disk-service probe once, as whichever user runs it: prints
// "reachable" or "unreachable: <reason>". With "--reset DEV" the program
// first asks the service for the vendor reset of DEV, as the login does.
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include "dbus_interface.h"
#include "service_probe.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && strcmp(argv[1], "--reset") == 0)
        printf("reset: %d\n", DbusInterface::GetInstance()->reset(QString::fromUtf8(argv[2])));
    QString reason;
    if (disk_service_reachable(&reason))
        printf("reachable\n");
    else
        printf("unreachable: %s\n", qUtf8Printable(reason));
    return 0;
}
