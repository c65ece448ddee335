// Saves a picture of the real window after a run on the simulated instrument, and of the
// "Readings" window opened after it:
//   qvscan-screenshot OUTPUT.png [READINGS.png]
// The instrument runs on a virtual clock, so the run takes a moment instead of fifteen seconds.

#include <QApplication>
#include <QPixmap>
#include <QPushButton>

#include <cstdio>

#include "app/platform.h"
#include "app/readingswindow.h"
#include "app/visacomexample.h"
#include "sim/qv3310.h"
#include "sim/simulatedbackend.h"

namespace {

class VirtualTimePlatform : public DesktopPlatform
{
public:
    explicit VirtualTimePlatform(std::shared_ptr<sim::Clock> clock)
        : m_clock(std::move(clock))
    {
    }
    std::chrono::nanoseconds now() const override { return m_clock->now(); }

private:
    std::shared_ptr<sim::Clock> m_clock;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: qvscan-screenshot OUTPUT.png [READINGS.png]\n");
        return 2;
    }
    auto clock = std::make_shared<sim::VirtualClock>();
    auto instrument = std::make_shared<sim::Qv3310>(clock);
    VirtualTimePlatform platform(clock);
    VISAComExample window(std::make_shared<sim::SimulatedBackend>(instrument), platform);
    window.load();
    window.GetReadings->click();
    if (window.ended()) {
        std::fprintf(stderr, "qvscan-screenshot: the run did not complete\n");
        return 1;
    }
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "qvscan-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        window.showReadings();
        ReadingsWindow *readings = window.readingsWindow();
        if (!readings) {
            std::fprintf(stderr, "qvscan-screenshot: the readings window did not open\n");
            return 1;
        }
        QApplication::processEvents();
        if (!readings->grab().save(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "qvscan-screenshot: cannot write %s\n", argv[2]);
            return 1;
        }
    }
    return 0;
}
