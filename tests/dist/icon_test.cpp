// The application's icon: the installed theme's when there is one, else the copy built into the
// program; the window and its message boxes carry it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "app/appicon.h"
#include "app/platform.h"
#include "app/visacomexample.h"
#include "sim/clock.h"
#include "sim/qv3310.h"
#include "sim/simulatedbackend.h"

namespace {

/// Points the icon theme lookup at @p paths for one test, and back afterwards.
class ThemeSearchPaths
{
public:
    explicit ThemeSearchPaths(const QStringList &paths)
        : m_paths(QIcon::themeSearchPaths())
        , m_fallbackPaths(QIcon::fallbackSearchPaths())
        , m_theme(QIcon::themeName())
    {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setFallbackSearchPaths({});
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    ~ThemeSearchPaths()
    {
        QIcon::setThemeSearchPaths(m_paths);
        QIcon::setFallbackSearchPaths(m_fallbackPaths);
        QIcon::setThemeName(m_theme);
    }

private:
    QStringList m_paths;
    QStringList m_fallbackPaths;
    QString m_theme;
};

/// A hicolor theme under @p root holding one 48 px icon of the application, all of @p colour.
void writeTheme(const QString &root, QColor colour)
{
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("hicolor/48x48/apps")));
    QFile index(root + QStringLiteral("/hicolor/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
                "[48x48/apps]\nSize=48\nContext=Applications\nType=Threshold\n");
    index.close();
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(root + QStringLiteral("/hicolor/48x48/apps/%1.png").arg(kApplicationIconName)));
}

QRgb centre(const QIcon &icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage();
    return image.isNull() ? 0 : image.pixel(image.width() / 2, image.height() / 2);
}

} // namespace

TEST(ApplicationIcon, WithoutAThemeIconComesFromThePrograms48And256PixelCopies)
{
    QTemporaryDir empty;
    ThemeSearchPaths paths({empty.path()});
    const QIcon icon = applicationIcon();

    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(48, 48))) << "sizes: " << sizes.size();
    EXPECT_TRUE(sizes.contains(QSize(256, 256))) << "sizes: " << sizes.size();
    // Drawn, not blank: the centre of the picture is opaque at both sizes.
    EXPECT_EQ(qAlpha(centre(icon, 48)), 255);
    EXPECT_EQ(qAlpha(centre(icon, 256)), 255);
}

TEST(ApplicationIcon, TheInstalledThemesIconComesFirst)
{
    QTemporaryDir root;
    writeTheme(root.path(), Qt::red);
    ThemeSearchPaths paths({root.path()});

    const QIcon icon = applicationIcon();

    EXPECT_EQ(centre(icon, 48), QColor(Qt::red).rgba());
}

TEST(ApplicationIcon, TheWindowAndItsMessageBoxesCarryIt)
{
    QTemporaryDir empty;
    ThemeSearchPaths paths({empty.path()});
    const QIcon previous = QApplication::windowIcon();
    QApplication::setWindowIcon(applicationIcon());
    const QRgb expected = centre(QApplication::windowIcon(), 48);
    ASSERT_EQ(qAlpha(expected), 255);

    auto clock = std::make_shared<sim::VirtualClock>();
    auto instrument = std::make_shared<sim::Qv3310>(clock);
    DesktopPlatform platform;
    VISAComExample window(std::make_shared<sim::SimulatedBackend>(instrument), platform);
    EXPECT_EQ(centre(window.windowIcon(), 48), expected);

    // The message box is modal: look at it from the event loop, then dismiss it.
    QRgb boxIcon = 0;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen = true;
            boxIcon = centre(box->windowIcon(), 48);
            box->accept();
        }
    });
    platform.showMessage(&window, QStringLiteral("caption"), QStringLiteral("text"));

    QApplication::setWindowIcon(previous);
    ASSERT_TRUE(seen) << "no message box was shown";
    EXPECT_EQ(boxIcon, expected);
}
