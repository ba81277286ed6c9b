#include "shell_test_support.h"

#include "ui/shell/app_version.h"
#include "ui/shell/update_controller.h"

#include <QCoreApplication>

using namespace fotivela;

namespace {

struct CountingUpdater : Updater {
    int started = 0;
    int checks = 0;
    void start() override { ++started; }
    void checkForUpdates() override { ++checks; }
};

struct Alert {
    QString title, text, button;
};

struct RecordingHold : TerminationHold {
    std::vector<std::string> enabled;
    void enable(const std::string& reason) override { enabled.push_back(reason); }
};

// Runs with the application's version set to `version`, restoring it afterwards.
struct RunningVersion {
    explicit RunningVersion(const char* version) : previous(QCoreApplication::applicationVersion())
    {
        QCoreApplication::setApplicationVersion(QString::fromLatin1(version));
    }
    ~RunningVersion() { QCoreApplication::setApplicationVersion(previous); }
    QString previous;
};

} // namespace

TEST(AppVersion, PiecesAndComparisonFollowTheNumbersOnly)
{
    EXPECT_EQ(AppVersion::versionPieces("rel-2.0b3"), (std::vector<long long>{2, 0, 3}));
    EXPECT_TRUE(AppVersion::versionPieces("beta").empty());
    EXPECT_TRUE(AppVersion::versionPieces("99999999999999999999999.1") == std::vector<long long>{1});
    EXPECT_EQ(AppVersion::compare("1.2", "1.2.0"), 0);
    EXPECT_GT(AppVersion::compare("1.10", "1.9"), 0);
    EXPECT_LT(AppVersion::compare("1.9", "1.10"), 0);
    EXPECT_EQ(AppVersion::compare("beta", "0"), 0);

    EXPECT_FALSE(AppVersion::isServerVersionNewer(std::nullopt, "0.2"));
    EXPECT_FALSE(AppVersion::isServerVersionNewer(std::string(""), "0.2"));
    EXPECT_FALSE(AppVersion::isServerVersionNewer(std::string(" \n\t"), "0.2"));
    EXPECT_TRUE(AppVersion::isServerVersionNewer(std::string("0.2.1"), "0.2"));
    EXPECT_FALSE(AppVersion::isServerVersionNewer(std::string("0.2.0"), "0.2"));
}

TEST(AppVersion, CurrentIsTheApplicationsVersionOrTheFallback)
{
    {
        RunningVersion none("");
        EXPECT_EQ(AppVersion::current(), "0.2");
    }
    RunningVersion set("1.4.2");
    EXPECT_EQ(AppVersion::current(), "1.4.2");
}

class UpdateControllerTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        auto updater = std::make_unique<CountingUpdater>();
        m_updater = updater.get();
        m_hold = std::make_shared<RecordingHold>();
        m_controller = std::make_unique<UpdateController>(
            std::move(updater), [this](const QString& t, const QString& x, const QString& b) { m_alerts.push_back({t, x, b}); },
            m_hold);
    }
    CountingUpdater* m_updater = nullptr;
    std::shared_ptr<RecordingHold> m_hold;
    std::unique_ptr<UpdateController> m_controller;
    std::vector<Alert> m_alerts;
    RunningVersion m_version{"0.2"};
};

TEST_F(UpdateControllerTest, AVersionThatIsNotNewerShowsTheAlertInsteadOfAskingTheUpdater)
{
    EXPECT_EQ(m_updater->started, 1);
    m_controller->checkForUpdates(std::string("0.2.0"), AppLanguage::english);
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_updater->checks, 0);
    // The interface language passed in, not the system's.
    EXPECT_EQ(m_alerts[0].text, QStringLiteral("You already have the latest version installed."));
    EXPECT_NE(m_alerts[0].title, QStringLiteral("Fotivela está al día"));

    m_controller->checkForUpdates(std::string("0.3"), AppLanguage::spanish);
    m_controller->checkForUpdates(std::nullopt, AppLanguage::spanish);
    EXPECT_EQ(m_updater->checks, 2);
    EXPECT_EQ(m_alerts.size(), 1u);
}

TEST_F(UpdateControllerTest, ABlankPublishedVersionIsNoClaimOfBeingCurrent)
{
    m_controller->checkForUpdates(std::string("   "), AppLanguage::spanish);
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_EQ(m_updater->checks, 1);
}

TEST_F(UpdateControllerTest, InstallAndRelaunchNoticesReleaseTheHold)
{
    m_controller->willInstallUpdate();
    EXPECT_TRUE(m_controller->shouldRelaunchApplication());
    m_controller->willRelaunchApplication();
    EXPECT_EQ(m_hold->enabled, std::vector<std::string>(3, terminationHoldReason));
}

TEST_F(UpdateControllerTest, TheProgramsUpdaterOffersTheDownloadOnlyForANewerRelease)
{
    std::vector<Alert> alerts;
    std::vector<std::string> opened;
    bool accept = true;
    PublishedReleaseUpdater updater([&](const QString& t, const QString& x, const QString& b) { alerts.push_back({t, x, b}); },
                                    [&](const QString&, const QString&, const QString&, const QString&) { return accept; },
                                    [&](const std::string& url) { opened.push_back(url); });

    updater.checkForUpdates(); // nothing published: no comparison, so no "up to date"
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_FALSE(alerts[0].title.contains(QStringLiteral("al día")));

    updater.setRelease({std::string("0.2"), std::string("https://example.invalid/fotivela")});
    updater.checkForUpdates();
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_TRUE(opened.empty());

    updater.setRelease({std::string("0.9"), std::nullopt});
    updater.checkForUpdates();
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_TRUE(opened.empty());

    updater.setRelease({std::string("0.9"), std::string("https://example.invalid/fotivela")});
    updater.checkForUpdates();
    accept = false;
    updater.checkForUpdates();
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.invalid/fotivela"});
}
