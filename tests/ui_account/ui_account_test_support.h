#pragma once

#include "account/account_session.h"
#include "account/account_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace fotivela::testing {

// A session on the real client and the local service; addresses that would open in the browser are
// collected instead.
class SessionFixture {
public:
    SessionFixture() : session(std::make_unique<AccountSession>(service.api, [this](const std::string& url) { opened.push_back(url); }))
    {
        session->setStartupTimeout(std::chrono::milliseconds(5000));
    }

    std::unique_ptr<AccountSession> makeSession()
    {
        auto made = std::make_unique<AccountSession>(service.api, [this](const std::string& url) { opened.push_back(url); });
        made->setStartupTimeout(std::chrono::milliseconds(5000));
        return made;
    }

    bool idle(AccountSession& which) { return QTest::qWaitFor([&] { return !which.isWorking(); }, 15000); }
    bool idle() { return idle(*session); }

    void signIn()
    {
        session->login(anaEmail, anaPassword);
        ASSERT_TRUE(QTest::qWaitFor([&] { return session->isAuthenticated() && !session->isWorking(); }, 15000));
    }

    AccountServiceFixture service;
    std::vector<std::string> opened;
    std::unique_ptr<AccountSession> session;
};

inline void typeInto(QLineEdit* field, const QString& text)
{
    // keyClicks knows only ASCII keys; insert is what typing does to the field.
    field->clear();
    field->insert(text);
}

inline void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace fotivela::testing
