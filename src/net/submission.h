#pragma once

// Sends AppState.report (token request, then report request) and on success
// stores the server's receipt code in AppState.receiptCode.
bool SubmitReport();
