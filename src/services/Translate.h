#pragma once

#include <QString>
#include <QStringList>

class QObject;
class QMenu;
class QAction;

// Every visible text is written in Korean in the program and looked up at run
// time in the embedded table ":/TRANSLATE". The lookup is by text, in any of
// the seven languages, so captions that are already translated can be
// translated again when the user switches languages.
//
// All functions are meant for the user-interface thread; CurrentLanguage() may
// also be read from worker threads.

// The translation of `text` into `lang` (empty: the current language), else
// into English, else `text` itself; every backslash-n pair becomes a CR.
QString Translate(const QString& text, const QString& lang = QString());

// The ISO 639 language name of the user's locale, "en" when there is none.
QString GetUserLanguage();

// Translates `component` and everything it owns, in ownership order; a
// non-empty `lang` first becomes the current language. Window titles are
// English in every language but Korean; combo boxes keep their selection.
void TranslateComponent(QObject* component, const QString& lang = QString());

// Translates a menu's title and every item and sub-menu in it.
void TranslateMenuItem(QMenu* item);
void TranslateMenuItem(QAction* item);

void TranslateStrings(QStringList& strings);

QString CurrentLanguage();

// The table as loaded, one item per line (separator lines included); empty
// when the resource is missing or unreadable.
const QStringList& TranslationTable();
