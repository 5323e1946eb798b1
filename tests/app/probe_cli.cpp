// Asks the disk-service probe once, as whichever user runs it: prints
// "reachable" or "unreachable: <reason>".
#include <QCoreApplication>

#include <cstdio>

#include "service_probe.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString reason;
    if (disk_service_reachable(&reason))
        printf("reachable\n");
    else
        printf("unreachable: %s\n", qUtf8Printable(reason));
    return 0;
}
