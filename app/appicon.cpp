#include "app/appicon.h"

#include <QString>

QIcon applicationIcon()
{
    QIcon builtIn;
    builtIn.addFile(QStringLiteral(":/icons/48/io.github.qvscan.QVScan.png"));
    builtIn.addFile(QStringLiteral(":/icons/256/io.github.qvscan.QVScan.png"));
    return QIcon::fromTheme(QString::fromLatin1(kApplicationIconName), builtIn);
}
