#include "foundation/uDBUtils.h"

#include <climits>

#include "foundation/uTrace.h"

namespace nuq {

namespace {

// Seconds a procedure run for its effect may take.
constexpr int ExecTimeout = 900;

std::unique_ptr<TStoredProc> Prepare(TDBConnection& connection, const std::string& name,
                                     const std::vector<Variant>& values, int timeout) {
    auto proc = std::make_unique<TStoredProc>(&connection);
    proc->CommandTimeout = timeout;
    proc->ProcedureName = Trim(name);
    proc->RefreshParameters();
    size_t next = 0;
    for (TParameter& p : proc->Parameters) {
        if (next >= values.size()) break;
        if (p.Direction == TParameterDirection::Input ||
            p.Direction == TParameterDirection::InputOutput)
            p.Value = values[next++];
    }
    return proc;
}

} // namespace

void ExecStoredProc(TDBConnection& connection, const std::string& name,
                    const std::vector<Variant>& values) {
    Prepare(connection, name, values, ExecTimeout)->ExecProc();
}

std::unique_ptr<TStoredProc> OpenStoredProc(TDBConnection& connection, const std::string& name,
                                            const std::vector<Variant>& values) {
    // A report may run as long as it needs.
    connection.CommandTimeout = INT_MAX;
    auto proc = Prepare(connection, name, values, INT_MAX);
    proc->Open();
    return proc;
}

void LogActionRegister(TDBConnection& connection, int code, const std::string& actionName,
                       const std::string& text) {
    try {
        ExecStoredProc(connection, "stm_spLogActionRegister", {code, actionName, text});
    } catch (const std::exception& e) {
        Trace("LogActionRegister(" + IntToStr(code) + ", " + actionName + "): " + e.what());
    } catch (...) {
        Trace("LogActionRegister(" + IntToStr(code) + ", " + actionName + "): unknown error");
    }
}

} // namespace nuq
