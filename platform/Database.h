#pragma once
// The host's database connection and its stored procedures, run by name with
// the parameter list the server reports, over ODBC so that any driver serves.

#include <memory>
#include <string>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/Variant.h"

namespace nuq {

// An error of the server, of the driver or of the link to the server.
// SQLState is the five-character state of the driver's first diagnostic
// ("" when the error is our own); class "08" is a connection that is lost.
class EDatabaseError : public Exception {
public:
    EDatabaseError(const std::string& message, std::string sqlState = "")
        : Exception(message), SQLState(std::move(sqlState)) {}
    bool ConnectionLost() const { return SQLState.rfind("08", 0) == 0; }
    std::string SQLState;
};

class TDBConnection {
public:
    TDBConnection();
    ~TDBConnection();
    TDBConnection(const TDBConnection&) = delete;
    TDBConnection& operator=(const TDBConnection&) = delete;

    // An ODBC connection string: "Driver={...};Servername=...;Database=...;".
    std::string ConnectionString;
    // Seconds the connection's own requests to the server (the procedure
    // catalogue) may run; 0 or less waits without limit.
    int CommandTimeout = 30;

    void Open();
    void Close();
    // False before Open, after Close and once the link was found lost.
    bool Connected() const;

    struct THandles; // the driver's handles, known only to the layer

private:
    friend class TStoredProc;
    std::unique_ptr<THandles> H;
};

enum class TParameterDirection { Unknown, Input, InputOutput, Output, ReturnValue };

// One parameter as the server reports it. DataType is the ODBC SQL type.
struct TParameter {
    std::string Name;
    TParameterDirection Direction = TParameterDirection::Unknown;
    int DataType = 0;
    int Size = 0;  // the server's column size: characters, digits or bytes
    int Scale = 0; // decimal digits
    Variant Value; // empty: not given, the server's default applies
};

class TStoredProc {
public:
    explicit TStoredProc(TDBConnection* connection = nullptr);
    ~TStoredProc();
    TStoredProc(const TStoredProc&) = delete;
    TStoredProc& operator=(const TStoredProc&) = delete;

    TDBConnection* Connection;
    std::string ProcedureName;
    int CommandTimeout = 30; // seconds; 0 or less waits without limit
    // In the server's order, the return value included; result columns are
    // not parameters and are left out.
    std::vector<TParameter> Parameters;

    // Asks the server for the procedure's parameters. The name is looked up
    // as given, then lower-cased (servers that fold unquoted names); a name
    // the server does not know, or knows more than once, raises.
    void RefreshParameters();

    // Runs the procedure with the input and input-output parameters up to the
    // last one given a value (an earlier one not given is sent as null);
    // ExecProc drops whatever it returns, Open keeps its first result set.
    void ExecProc();
    void Open();
    void Close();
    bool Active() const;

    // Reading the open result set row by row.
    bool Eof() const;
    void Next();
    int FieldCount() const;
    std::string FieldName(int index) const;
    Variant Fields(int index) const;
    // The column's value; the name is matched without regard to case.
    // A name the result set lacks raises.
    Variant FieldByName(const std::string& name) const;
    int FindField(const std::string& name) const; // -1 when absent

private:
    struct TState;
    std::unique_ptr<TState> S;
    static TDBConnection::THandles& Require(TDBConnection* connection);
    void Execute();
    void FetchRow();
};

} // namespace nuq
