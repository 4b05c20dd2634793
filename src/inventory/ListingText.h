#pragma once

#include <QString>
#include <QStringView>

namespace kelvane {

// A text from the registry made safe to write into a listing (a terminal, an
// export file): every control character (C0, DEL, C1) and the Unicode line
// and paragraph separators become a space. A name holding "\n\t" would
// otherwise forge a line of the listing, and an escape sequence clear or
// retitle the terminal that shows it. Everything else is kept as it is.
QString ListingText(const QString &text);

} // namespace kelvane
