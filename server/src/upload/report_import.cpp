#include "upload/report_import.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "upload/report_envelope.h"

namespace zeq {

namespace {

// An imported report came from no network address: its import mark says
// where it came from.
constexpr const char* kNoClientAddress = "";

ImportOutcome refused(std::string message) {
    return {ImportResult::Refused, {}, std::move(message)};
}

} // namespace

ImportOutcome importReport(ReportStore& store, std::string_view bytes,
                           const std::string& technician, std::int64_t now) {
    if (bytes.size() > kMaxReportBytes) {
        return refused("El fichero supera el tamaño máximo de un informe (2 MiB).");
    }
    EnvelopeCheck envelope = checkReport(bytes);
    if (envelope.problem != ReportProblem::None) {
        return refused(describeProblem(envelope.problem));
    }
    ImportMark mark{technician, now};
    StoreOutcome outcome = store.store(envelope.reportId, bytes, now, kNoClientAddress, {}, &mark);
    switch (outcome.result) {
    case StoreResult::Stored:
        return {ImportResult::Stored, outcome.code,
                "Informe importado con el código " + outcome.code + "."};
    case StoreResult::Repeated:
        return {ImportResult::AlreadyStored, outcome.code,
                "Este informe ya estaba guardado con el código " + outcome.code + "."};
    case StoreResult::Conflict:
        break;
    case StoreResult::OverQuota: // no quota is asked
        return refused("El informe no se ha admitido.");
    }
    return {ImportResult::Conflict,
            {},
            "Ya hay guardado otro informe con el mismo report_id (" + envelope.reportId +
                ") y un contenido distinto; no se importa este fichero."};
}

std::string readReportFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("no se puede abrir " + path + ": " + std::strerror(errno));
    }
    std::string bytes(kMaxReportBytes + 1, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file.bad()) {
        throw std::runtime_error("no se puede leer " + path);
    }
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

} // namespace zeq
