#include "app/batch.h"

#include <QPushButton>

#include "app/platform.h"
#include "app/visacomexample.h"

int runBatch(VISAComExample &window, const BatchPlatform &platform, std::FILE *out)
{
    const auto connection = QObject::connect(&window, &VISAComExample::lineAppended,
                                             [out](const QString &line) { writeTextLine(out, line); });

    window.load();
    if (!window.ended())
        window.GetReadings->click();
    const bool listed = window.readingsListed() > 0;
    if (!window.ended())
        window.ExitProg->click();

    QObject::disconnect(connection);
    return platform.messageShown() || !listed ? kBatchFailed : kBatchReadingsListed;
}
