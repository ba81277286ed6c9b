#include "inspector_test_support.h"

#include "support/test_images.h"
#include "ui/inspectors/export_inspector.h"
#include "ui/inspectors/inspector_host.h"
#include "ui/inspectors/music_control_inspector.h"
#include "ui/inspectors/photos_inspector.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QElapsedTimer>
#include <QTest>

using namespace fotivela;
using namespace fotivela::test;

using ExportInspectorTest = InspectorTest;

TEST(ExportSummaryRule, SidesAreTruncatedNotRounded)
{
    EXPECT_EQ(exportSummary(ExportQuality::quick, ProjectFormat::photoLandscape, 30), "1280x853 - 30 fps - MP4");
    EXPECT_EQ(exportSummary(ExportQuality::high, ProjectFormat::reels, 30), "607x1080 - 30 fps - MP4");
    EXPECT_EQ(exportSummary(ExportQuality::premium, ProjectFormat::reels, 24), "1215x2160 - 24 fps - MP4");
    EXPECT_EQ(exportSummary(ExportQuality::quick, ProjectFormat::landscape, 60), "1280x1024 - 60 fps - MP4");
    EXPECT_EQ(exportSummary(ExportQuality::high, ProjectFormat::classicPortrait, 25), "810x1080 - 25 fps - MP4");
    EXPECT_EQ(exportSummary(ExportQuality::premium, ProjectFormat::photoPortrait, 30), "1440x2160 - 30 fps - MP4");
}

TEST_F(ExportInspectorTest, SettingsAreWrittenIndependentlyWithoutUndoAndMarkTheProjectChanged)
{
    setSlides({slide("uno.jpg")});
    store().setHasUnsavedChanges(false);
    ExportInspector inspector(store(), storeSignals());
    inspector.show();
    EXPECT_EQ(inspector.summary()->text(), "1920x1080 - 30 fps - MP4");
    const auto undoBefore = store().undoStack().size();

    inspector.qualityPicker()->setFocus();
    QTest::keyClick(inspector.qualityPicker(), Qt::Key_Up); // 1080p -> 720p
    EXPECT_EQ(store().project().exportSettings.quality, ExportQuality::quick);
    EXPECT_DOUBLE_EQ(store().project().exportSettings.bitrateMbps, 12); // the quality leaves the bitrate alone
    EXPECT_EQ(inspector.summary()->text(), "1280x720 - 30 fps - MP4");
    EXPECT_TRUE(store().hasUnsavedChanges());
    EXPECT_EQ(store().undoStack().size(), undoBefore);

    QTest::mouseClick(inspector.recommendedButton(), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(store().project().exportSettings.bitrateMbps, 6);
    EXPECT_EQ(inspector.bitrateValue()->text(), "6 Mbps");

    drag(inspector.bitrateSlider(), 9);
    EXPECT_DOUBLE_EQ(store().project().exportSettings.bitrateMbps, 9);

    // A stored value out of range shows as stored; the slider stays inside its range.
    store().modifyProject([](FotivelaProject& p) { p.exportSettings.bitrateMbps = 120; });
    EXPECT_EQ(inspector.bitrateValue()->text(), "120 Mbps");
    EXPECT_EQ(inspector.bitrateSlider()->value(), 80);

    inspector.codecPicker()->setFocus();
    QTest::keyClick(inspector.codecPicker(), Qt::Key_Up); // HEVC -> H.264
    EXPECT_EQ(store().project().exportSettings.codec, ExportCodec::h264);
    EXPECT_EQ(store().project().exportSettings.quality, ExportQuality::quick);
}

TEST_F(ExportInspectorTest, StatusLinesAndTheMusicToggleFollowTheStore)
{
    ExportInspector inspector(store(), storeSignals());
    inspector.show();
    // Without photos the button is off with a plain reason line.
    EXPECT_FALSE(inspector.exportButton()->isEnabled());
    ASSERT_TRUE(inspector.reasonLine()->isVisible());
    EXPECT_EQ(inspector.reasonLine()->text(), "Añade fotos al timeline antes de exportar.");
    EXPECT_FALSE(inspector.reasonLine()->isError());
    // Without a song the toggle is off but shows the stored flag.
    EXPECT_FALSE(inspector.includeAudioToggle()->isEnabled());
    EXPECT_TRUE(inspector.includeAudioToggle()->isChecked());

    EXPECT_FALSE(inspector.messageLine()->isVisible());
    store().setExportMessage("Exportacion cancelada");
    ASSERT_TRUE(inspector.messageLine()->isVisible());
    EXPECT_FALSE(inspector.messageLine()->isError());
    store().setExportMessage("Ha ocurrido un ERROR al exportar");
    EXPECT_TRUE(inspector.messageLine()->isError());
    store().setIsExporting(true);
    EXPECT_FALSE(inspector.messageLine()->isVisible());
    EXPECT_EQ(inspector.exportButton()->text(), "Exportando...");

    setSlides({slide("uno.jpg")});
    EXPECT_FALSE(inspector.reasonLine()->isVisible());
    EXPECT_FALSE(inspector.exportButton()->isEnabled()); // still exporting
    store().setIsExporting(false);
    EXPECT_TRUE(inspector.exportButton()->isEnabled());
    EXPECT_EQ(inspector.exportButton()->text(), "Exportar video");
}

TEST_F(ExportInspectorTest, ACancelledDestinationPanelSaysSoAndStartsNothing)
{
    setSlides({slide("uno.jpg")});
    std::string proposed;
    store().dialogs().chooseExportDestination = [&proposed](const std::string& name) {
        proposed = name;
        return std::optional<std::filesystem::path>();
    };
    ExportInspector inspector(store(), storeSignals());
    inspector.show();
    QTest::mouseClick(inspector.exportButton(), Qt::LeftButton);
    EXPECT_EQ(proposed, store().project().name + ".mp4");
    EXPECT_FALSE(store().isExporting());
    EXPECT_EQ(store().exportMessage(), "Exportacion cancelada");
    ASSERT_TRUE(inspector.messageLine()->isVisible());
    EXPECT_FALSE(inspector.messageLine()->isError());
}

TEST_F(ExportInspectorTest, HostShowsTheActiveTabsInspectorAndReplacesItOnASwitch)
{
    InspectorHost host(store(), storeSignals());
    host.show();
    EXPECT_NE(dynamic_cast<PhotosInspector*>(host.currentInspector()), nullptr);
    QPointer<QWidget> photos = host.currentInspector();

    store().setActiveTab(EditorTab::aiMusic);
    EXPECT_NE(dynamic_cast<MusicControlInspector*>(host.currentInspector()), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(photos.isNull());

    store().setActiveTab(EditorTab::export_);
    EXPECT_NE(dynamic_cast<ExportInspector*>(host.currentInspector()), nullptr);
    store().setActiveTab(EditorTab::settings);
    EXPECT_EQ(host.currentInspector(), nullptr);
}

TEST_F(ExportInspectorTest, TheButtonExportsToTheChosenFileWhileTheButtonWaits)
{
    const auto photo = m_root / "foto.png";
    writeImage(photo, makeTwoToneImage(320, 180), "PNG");
    Slide only = slide("foto.png", 1.0);
    only.imageURL = photo;
    setSlides({only});
    store().modifyProject([](FotivelaProject& p) {
        p.exportSettings.quality = ExportQuality::quick;
        p.exportSettings.codec = ExportCodec::h264;
        p.fps = 10;
    });
    const auto destination = m_root / "video.mp4";
    store().dialogs().chooseExportDestination = [&destination](const std::string&) {
        return std::optional<std::filesystem::path>(destination);
    };
    ExportInspector inspector(store(), storeSignals());
    inspector.show();
    QTest::mouseClick(inspector.exportButton(), Qt::LeftButton);
    ASSERT_TRUE(store().isExporting());
    EXPECT_FALSE(inspector.exportButton()->isEnabled());
    EXPECT_FALSE(inspector.messageLine()->isVisible());

    QElapsedTimer timer;
    timer.start();
    while (store().isExporting() && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(store().isExporting());
    EXPECT_TRUE(std::filesystem::exists(destination)) << store().exportMessage();
    EXPECT_TRUE(inspector.exportButton()->isEnabled());
    EXPECT_TRUE(inspector.messageLine()->isVisible());
}
