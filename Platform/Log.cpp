#include "Platform/Log.h"

Q_LOGGING_CATEGORY(lcIngest, "app.ostrel.ingest")
Q_LOGGING_CATEGORY(lcStore, "app.ostrel.store")
Q_LOGGING_CATEGORY(lcPlatform, "app.ostrel.platform")
Q_LOGGING_CATEGORY(lcUpdate, "app.ostrel.update")
