#include "core/playlists/DataTable.h"
#include <QObject>
#include <QtCore/QString>
