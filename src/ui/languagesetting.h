#pragma once

#include <QGroupBox>

class QComboBox;

// The language of the texts: the desktop's, Chinese or English. Stored in a preference of its
// own (not in the settings record) and read once at start, so a change shows after a restart.
class LanguageSetting final : public QGroupBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LanguageSetting)

public:
    explicit LanguageSetting(QWidget *parent = nullptr);
    ~LanguageSetting() override;

    QComboBox *choices() const { return m_choices; }

private:
    QComboBox *m_choices;
};
