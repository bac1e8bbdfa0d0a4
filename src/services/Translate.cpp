#include "services/Translate.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMutex>
#include <QSignalBlocker>
#include <QWidget>

namespace {

struct TTranslationModule
{
    QStringList Table;
    // Written on the user-interface thread, read by the update service's
    // worker as well.
    mutable QMutex LanguageLock;
    QString Language;

    TTranslationModule()
    {
        QFile file(QStringLiteral(":/TRANSLATE"));
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray bytes = file.readAll();
            if (bytes.startsWith("\xEF\xBB\xBF"))
                bytes.remove(0, 3);
            QString text = QString::fromUtf8(bytes);
            // One item per line; a final line break does not add an item.
            text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            if (text.endsWith(QLatin1Char('\n')))
                text.chop(1);
            if (!text.isEmpty())
                Table = text.split(QLatin1Char('\n'));
        }
        Language = GetUserLanguage().left(2);
    }
};

TTranslationModule& Module()
{
    static TTranslationModule module;
    return module;
}

QString Unescape(const QString& text)
{
    QString result = text;
    result.replace(QStringLiteral("\\n"), QStringLiteral("\r"));
    return result;
}

QChar AsciiUpper(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? QChar(char16_t(u - 32)) : c;
}

bool EqualIgnoringAsciiCase(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    }
    return true;
}

QStringView NameOf(const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QStringView(line) : QStringView(line).left(eq);
}

QStringView ValueOf(const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QStringView() : QStringView(line).mid(eq + 1);
}

void SetCurrentLanguage(const QString& lang)
{
    TTranslationModule& module = Module();
    QMutexLocker lock(&module.LanguageLock);
    module.Language = lang;
}

QString TranslateCaption(QWidget* widget, const QString& caption)
{
    if (widget->isWindow() && CurrentLanguage() != QLatin1String("ko"))
        return Translate(caption, QStringLiteral("en"));
    return Translate(caption);
}

} // namespace

const QStringList& TranslationTable()
{
    return Module().Table;
}

QString CurrentLanguage()
{
    TTranslationModule& module = Module();
    QMutexLocker lock(&module.LanguageLock);
    return module.Language;
}

QString GetUserLanguage()
{
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QStringLiteral("en");
    const QString code = QLocale::languageToCode(locale.language());
    return code.isEmpty() ? QStringLiteral("en") : code;
}

QString Translate(const QString& text, const QString& lang)
{
    QString result = Unescape(text);
    if (text.isEmpty())
        return result;

    const QString wanted = lang.isEmpty() ? CurrentLanguage() : lang;
    const QStringList& table = Module().Table;

    qsizetype match = -1;
    for (qsizetype i = 0; i < table.size(); ++i) {
        const QStringView value = ValueOf(table[i]);
        if (!value.isEmpty() && EqualIgnoringAsciiCase(value, text)) {
            match = i;
            break;
        }
    }
    if (match < 0)
        return result;

    qsizetype first = match;
    while (first > 0 && !table[first - 1].isEmpty())
        --first;

    for (const QString& candidate : {wanted, QStringLiteral("en")}) {
        for (qsizetype i = first; i < table.size() && !table[i].isEmpty(); ++i) {
            if (NameOf(table[i]) == candidate)
                return Unescape(ValueOf(table[i]).toString());
        }
    }
    return result;
}

void TranslateMenuItem(QAction* item)
{
    if (!item)
        return;
    item->setText(Translate(item->text()));
    if (QMenu* sub = item->menu())
        TranslateMenuItem(sub);
}

void TranslateMenuItem(QMenu* item)
{
    if (!item)
        return;
    item->setTitle(Translate(item->title()));
    const QList<QAction*> actions = item->actions();
    for (QAction* action : actions)
        TranslateMenuItem(action);
}

void TranslateStrings(QStringList& strings)
{
    for (QString& line : strings)
        line = Translate(line);
}

void TranslateComponent(QObject* component, const QString& lang)
{
    if (!lang.isEmpty())
        SetCurrentLanguage(lang);
    if (!component)
        return;

    if (auto* combo = qobject_cast<QComboBox*>(component)) {
        const int selected = combo->currentIndex();
        // Item texts change, the chosen item does not: no change handler runs.
        const QSignalBlocker blocker(combo);
        combo->setUpdatesEnabled(false);
        for (int i = 0; i < combo->count(); ++i)
            combo->setItemText(i, Translate(combo->itemText(i)));
        combo->setCurrentIndex(selected);
        combo->setUpdatesEnabled(true);
        return;
    }

    auto* menu = qobject_cast<QMenu*>(component);
    if (menu) {
        TranslateMenuItem(menu);
    } else if (auto* action = qobject_cast<QAction*>(component)) {
        action->setText(Translate(action->text()));
    } else if (auto* widget = qobject_cast<QWidget*>(component)) {
        if (widget->isWindow() && !widget->windowTitle().isEmpty())
            widget->setWindowTitle(TranslateCaption(widget, widget->windowTitle()));
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(Translate(button->text()));
        else if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(Translate(label->text()));
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(Translate(group->title()));
    }

    const QObjectList children = component->children();
    for (QObject* child : children) {
        // A menu's own items were translated with it above.
        if (menu && qobject_cast<QAction*>(child))
            continue;
        TranslateComponent(child);
    }
}
