#pragma once

#include "account/account_session.h"

#include <QScrollArea>
#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace fotivela {

// The scrolling frame of an account panel: a title and a subtitle above the panel's own items,
// which the caller adds with addItem (18 points apart).
class SettingsContent : public QScrollArea {
    Q_OBJECT

public:
    SettingsContent(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    void addItem(QWidget* item);
    QVBoxLayout* column() const { return m_column; }

private:
    QVBoxLayout* m_column = nullptr;
};

// A card that stands in for content that does not exist.
class EmptySettingsState : public QWidget {
    Q_OBJECT

public:
    EmptySettingsState(const QString& icon, const QString& title, const QString& text, QWidget* parent = nullptr);
    QString icon() const { return m_icon; }

private:
    QString m_icon;
};

// The session's latest status text, absent while there is none.
class StatusMessage : public QWidget {
    Q_OBJECT

public:
    explicit StatusMessage(AccountSession& session, QWidget* parent = nullptr);
    QString text() const;

private:
    void refresh();

    AccountSession& m_session;
    QLabel* m_label = nullptr;
};

} // namespace fotivela
