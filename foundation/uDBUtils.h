#pragma once
// The database's stored procedures run by name with positional values, and
// the operator action log.

#include <memory>
#include <string>
#include <vector>

#include "platform/Database.h"
#include "platform/Variant.h"

namespace nuq {

// Runs the procedure named Name (blanks around it ignored) on Connection.
// Values go in order to the input and input-output parameters the server
// reports; the return value and outputs take none, surplus values are
// ignored and parameters left without a value keep their defaults. Errors of
// the server and the connection reach the caller as EDatabaseError.
void ExecStoredProc(TDBConnection& connection, const std::string& name,
                    const std::vector<Variant>& values);

// As ExecStoredProc, but returns the procedure open on its result set; the
// caller reads the columns by name and frees it.
std::unique_ptr<TStoredProc> OpenStoredProc(TDBConnection& connection, const std::string& name,
                                            const std::vector<Variant>& values);

// Writes an operator action ("laStartProcess" and the like) to the action
// log through "stm_spLogActionRegister". The log must never stop the
// operator's work: every error is swallowed and only traced.
void LogActionRegister(TDBConnection& connection, int code, const std::string& actionName,
                       const std::string& text);

} // namespace nuq
