#pragma once

#include <QSqlDatabase>
#include <string>

#include "records/StoreLocation.h"

namespace quarnel::records {

// The schema version this program writes.
int LatestSchemaVersion();

// Brings the database to LatestSchemaVersion(), creating the tables in an
// empty one, all in one transaction; several processes may do so at once.
// A database that a newer program has written is refused. Empty on
// success, else why not.
std::string PrepareSchema(QSqlDatabase& db, const StoreLocation& location);

}  // namespace quarnel::records
