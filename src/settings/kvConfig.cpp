// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvConfig.h"

namespace kelvane::config {

const QString AuthorName = QString::fromUtf8(KELVANE_AUTHOR_NAME);
const QString WebsiteUrl = QString::fromUtf8(KELVANE_WEBSITE_URL);
const QString BugReportAddress = QString::fromUtf8(KELVANE_BUG_REPORT_ADDRESS);

} // namespace kelvane::config
