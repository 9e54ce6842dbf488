#include "shared/app_state.h"

ApplicationState AppState;
