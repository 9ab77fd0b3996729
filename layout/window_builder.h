// Builds the window from the element table: one function walks the table and creates each
// frame, caption, value field, bar, picture and the button.
#pragma once

#include <QFont>
#include <QHash>
#include <QString>
#include <QStringList>

class QWidget;

namespace layout {

// Faces tried for the standard font, nearest to the classic dialog face first. All but the
// first two ship in Debian packages
// (fonts-crosextra-carlito, fonts-liberation).
QStringList fontPreferences();

// The first preferred face among the available families; a generic sans-serif otherwise.
QString chooseFontFamily(const QStringList& available);

// The window's standard font at the given weight: the chosen face at 8.25 pt.
QFont standardFont(QFont::Weight weight = QFont::Normal);

// Twips to pixels at the display's resolution (15 twips a pixel at 96 dpi).
int twipsToPixels(int twips, int dpi);

// Creates every element of the table as a child of the window, each with its table name as
// objectName, and gives the window its fixed size, caption, icon, font and title-bar buttons.
// Returns the created elements by name.
QHash<QString, QWidget*> buildWindow(QWidget& window);

} // namespace layout
