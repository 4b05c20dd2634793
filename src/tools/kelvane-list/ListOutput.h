// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "inventory/kvApplication.h"

#include <QByteArray>

class QIODevice;

namespace kelvane {

// The inventory as JSON: {"KeyCount": n, "Applications": [...], "Hotfixes": [...]},
// entries in scan order with the record fields under their own names and in
// their own order. Written by hand and in pieces as it goes: several times
// faster than QJsonDocument on large inventories, never holds the whole text,
// and keeps the field order. Throws kelvane::Error when the device fails.
void WriteInventoryJson(const TApplications &inventory, QIODevice &out);

// Writes all bytes or throws kelvane::Error naming the device's error.
void WriteAll(QIODevice &out, const QByteArray &bytes);

} // namespace kelvane
