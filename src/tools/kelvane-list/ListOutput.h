#pragma once

#include "inventory/kvApplication.h"

#include <QByteArray>

namespace kelvane {

// The inventory as JSON: {"KeyCount": n, "Applications": [...], "Hotfixes": [...]},
// entries in scan order with the record fields under their own names and in
// their own order. Written by hand: it is several times faster than
// QJsonDocument on large inventories, and keeps the field order.
QByteArray InventoryJson(const TApplications &inventory);

} // namespace kelvane
