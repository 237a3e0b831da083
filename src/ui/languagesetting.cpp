#include "ui/languagesetting.h"

#include "platform/preferences.h"
#include "platform/uilanguage.h"
#include "ui/style.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

LanguageSetting::LanguageSetting(QWidget *parent)
    : QGroupBox(tr("界面语言"), parent)
    , m_choices(new QComboBox(this))
{
    auto *layout = new QHBoxLayout(this);
    // Each language is named in its own words, whatever the shown language.
    m_choices->addItem(tr("跟随系统"), QVariant::fromValue(int(UiLanguage::Choice::followSystem)));
    m_choices->addItem(QStringLiteral("简体中文"), QVariant::fromValue(int(UiLanguage::Choice::chinese)));
    m_choices->addItem(QStringLiteral("English"), QVariant::fromValue(int(UiLanguage::Choice::english)));
    m_choices->setAccessibleName(tr("界面语言"));
    m_choices->setCurrentIndex(m_choices->findData(int(UiLanguage::storedChoice(Preferences()))));
    layout->addWidget(m_choices);
    auto *note = Style::noteLabel(tr("重新启动 Pikora 后生效"), this);
    note->setWordWrap(true);
    layout->addWidget(note, 1);

    connect(m_choices, &QComboBox::activated, this, [this](int index) {
        Preferences preferences;
        UiLanguage::storeChoice(preferences, static_cast<UiLanguage::Choice>(m_choices->itemData(index).toInt()));
    });
}

LanguageSetting::~LanguageSetting() = default;
