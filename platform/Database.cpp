#include "platform/Database.h"

#include "platform/Cp1251.h"
#include "platform/ScopeGuard.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace nuq {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide text is UTF-16");

namespace {

// ---- UTF-8 and the driver manager's UTF-16 ----

std::u16string ToWide(std::string_view s) {
    return Utf8ToUtf16(s);
}

std::string FromWide(const SQLWCHAR* w, size_t n) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(w), n));
}

std::string FromWide(const std::u16string& w) {
    return FromWide(reinterpret_cast<const SQLWCHAR*>(w.data()), w.size());
}

SQLWCHAR* W(std::u16string& s) {
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

// Case folding for column names: ASCII and Cyrillic letters.
std::u16string Fold(std::string_view s) {
    std::u16string w = ToWide(s);
    for (char16_t& c : w) {
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c + 0x20);
        else if (c >= 0x0410 && c <= 0x042F)
            c = char16_t(c + 0x20);
        else if (c >= 0x0400 && c <= 0x040F)
            c = char16_t(c + 0x50);
    }
    return w;
}

// ---- diagnostics ----

struct TDiag {
    std::string State;
    std::string Text;
};

TDiag ReadDiag(SQLSMALLINT type, SQLHANDLE handle) {
    TDiag d;
    for (SQLSMALLINT rec = 1;; ++rec) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR msg[1024];
        SQLSMALLINT len = 0;
        SQLRETURN r = SQLGetDiagRecW(type, handle, rec, state, &native, msg,
                                     SQLSMALLINT(std::size(msg)), &len);
        if (!SQL_SUCCEEDED(r)) break;
        if (d.State.empty()) d.State = FromWide(state, 5);
        std::string text =
            TrimRight(FromWide(msg, size_t(std::clamp<SQLSMALLINT>(len, 0, std::size(msg) - 1))));
        if (!text.empty()) d.Text += (d.Text.empty() ? "" : "\n") + text;
    }
    return d;
}

} // namespace

// ---- connection ----

struct TDBConnection::THandles {
    SQLHENV Env = SQL_NULL_HENV;
    SQLHDBC Dbc = SQL_NULL_HDBC;
    bool Lost = false;
    unsigned Generation = 0;     // counts closes, so statements of an old link are not freed twice
    std::string PatternEscape;   // escapes "_" and "%" in catalogue look-ups
    std::string IdentifierQuote; // quotes the procedure name in the call
    bool PostgreSQL = false;     // its procedures need CALL (see CallsWithCall)
};

namespace {

// Raises the diagnostics of a failed call. A link the driver reports lost,
// or the driver manager finds dead, is marked so that later calls fail at
// once instead of waiting on it.
[[noreturn]] void RaiseDiag(SQLSMALLINT type, SQLHANDLE handle, SQLHDBC dbc, bool* lost) {
    TDiag d = ReadDiag(type, handle);
    if (d.Text.empty()) d.Text = "Ошибка драйвера базы данных без описания.";
    bool dead = d.State.rfind("08", 0) == 0;
    if (!dead && dbc != SQL_NULL_HDBC) {
        SQLUINTEGER flag = SQL_CD_FALSE;
        if (SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &flag, 0, nullptr)) &&
            flag == SQL_CD_TRUE)
            dead = true;
    }
    if (dead) {
        if (lost) *lost = true;
        throw EDatabaseError("Связь с базой данных потеряна: " + d.Text,
                             d.State.rfind("08", 0) == 0 ? d.State : "08S01");
    }
    throw EDatabaseError(d.Text, d.State);
}

// A statement handle freed on every way out.
class TStatement {
public:
    TStatement(TDBConnection::THandles& h, int timeout) : H(h) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h.Dbc, &Stmt)))
            RaiseDiag(SQL_HANDLE_DBC, h.Dbc, h.Dbc, &h.Lost);
        SetTimeout(timeout);
    }
    ~TStatement() {
        if (Stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, Stmt);
    }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    void SetTimeout(int seconds) {
        SQLULEN t = seconds > 0 ? SQLULEN(seconds) : 0;
        // Not every driver keeps a time-out; one that refuses it only loses the limit.
        SQLSetStmtAttr(Stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(t), 0);
    }
    void Check(SQLRETURN r) {
        if (r == SQL_ERROR || r == SQL_INVALID_HANDLE)
            RaiseDiag(SQL_HANDLE_STMT, Stmt, H.Dbc, &H.Lost);
    }
    SQLHSTMT Release() {
        SQLHSTMT s = Stmt;
        Stmt = SQL_NULL_HSTMT;
        return s;
    }

    SQLHSTMT Stmt = SQL_NULL_HSTMT;
    TDBConnection::THandles& H;
};

} // namespace

TDBConnection::TDBConnection() : H(std::make_unique<THandles>()) {}

TDBConnection::~TDBConnection() {
    Close();
}

void TDBConnection::Open() {
    if (Connected()) return;
    Close();
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &H->Env)))
        throw EDatabaseError("Драйвер ODBC недоступен.");
    SQLSetEnvAttr(H->Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, H->Env, &H->Dbc))) {
        TDiag d = ReadDiag(SQL_HANDLE_ENV, H->Env);
        Close();
        throw EDatabaseError(d.Text, d.State);
    }
    // A server that does not answer must not hold the caller for ever.
    SQLSetConnectAttr(H->Dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(15)), 0);
    std::u16string cs = ToWide(ConnectionString);
    SQLRETURN r = SQLDriverConnectW(H->Dbc, nullptr, W(cs), SQLSMALLINT(cs.size()), nullptr, 0,
                                    nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        TDiag d = ReadDiag(SQL_HANDLE_DBC, H->Dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, H->Dbc);
        H->Dbc = SQL_NULL_HDBC;
        Close();
        throw EDatabaseError("Нет соединения с базой данных: " +
                                 (d.Text.empty() ? std::string("причина не сообщена.") : d.Text),
                             d.State.empty() ? "08001" : d.State);
    }
    H->Lost = false;
    auto info = [this](SQLUSMALLINT what) {
        SQLWCHAR buf[16] = {};
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetInfoW(H->Dbc, what, buf, sizeof buf, &len))) return std::string();
        return FromWide(buf, size_t(std::clamp<int>(len / 2, 0, 15)));
    };
    H->PatternEscape = info(SQL_SEARCH_PATTERN_ESCAPE);
    H->IdentifierQuote = Trim(info(SQL_IDENTIFIER_QUOTE_CHAR));
    H->PostgreSQL = info(SQL_DBMS_NAME) == "PostgreSQL";
}

void TDBConnection::Close() {
    if (H->Dbc != SQL_NULL_HDBC) {
        SQLDisconnect(H->Dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, H->Dbc);
        H->Dbc = SQL_NULL_HDBC;
        ++H->Generation;
    }
    if (H->Env != SQL_NULL_HENV) {
        SQLFreeHandle(SQL_HANDLE_ENV, H->Env);
        H->Env = SQL_NULL_HENV;
    }
    H->Lost = false;
}

bool TDBConnection::Connected() const {
    return H->Dbc != SQL_NULL_HDBC && !H->Lost;
}

// ---- stored procedure ----

namespace {

struct TColumn {
    std::string Name;
    std::u16string Folded;
    SQLSMALLINT Type = 0;
};

// What a bound parameter points at; it must outlive the execution.
struct TBound {
    std::u16string Text;
    int64_t Integer = 0;
    double Double = 0;
    unsigned char Bit = 0;
    SQL_TIMESTAMP_STRUCT Stamp = {};
    SQLLEN Indicator = 0;
};

bool IsCharType(int t) {
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR ||
           t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}

TParameterDirection DirectionOf(int columnType) {
    switch (columnType) {
    case SQL_PARAM_INPUT:
        return TParameterDirection::Input;
    case SQL_PARAM_INPUT_OUTPUT:
        return TParameterDirection::InputOutput;
    case SQL_PARAM_OUTPUT:
        return TParameterDirection::Output;
    case SQL_RETURN_VALUE:
        return TParameterDirection::ReturnValue;
    default:
        return TParameterDirection::Unknown;
    }
}

std::string GetText(SQLHSTMT stmt, SQLUSMALLINT col, bool* isNull = nullptr) {
    std::u16string out;
    SQLWCHAR buf[2048];
    if (isNull) *isNull = false;
    for (;;) {
        SQLLEN ind = 0;
        SQLRETURN r = SQLGetData(stmt, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
        if (r == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(r)) RaiseDiag(SQL_HANDLE_STMT, stmt, SQL_NULL_HDBC, nullptr);
        if (ind == SQL_NULL_DATA) {
            if (isNull) *isNull = true;
            break;
        }
        // While the value is cut, the buffer is full up to its terminator.
        const size_t room = std::size(buf) - 1;
        size_t got = ind == SQL_NO_TOTAL || size_t(ind) / sizeof(SQLWCHAR) > room
                         ? room
                         : size_t(ind) / sizeof(SQLWCHAR);
        out.append(reinterpret_cast<const char16_t*>(buf), got);
        if (r == SQL_SUCCESS) break;
    }
    return FromWide(out);
}

std::string GetBytes(SQLHSTMT stmt, SQLUSMALLINT col, bool& isNull) {
    std::string out;
    char buf[4096];
    isNull = false;
    for (;;) {
        SQLLEN ind = 0;
        SQLRETURN r = SQLGetData(stmt, col, SQL_C_BINARY, buf, sizeof buf, &ind);
        if (r == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(r)) RaiseDiag(SQL_HANDLE_STMT, stmt, SQL_NULL_HDBC, nullptr);
        if (ind == SQL_NULL_DATA) {
            isNull = true;
            break;
        }
        size_t got = ind == SQL_NO_TOTAL || size_t(ind) > sizeof buf ? sizeof buf : size_t(ind);
        out.append(buf, got);
        if (r == SQL_SUCCESS) break;
    }
    return out;
}

int GetInt(SQLHSTMT stmt, SQLUSMALLINT col) {
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    if (!SQL_SUCCEEDED(SQLGetData(stmt, col, SQL_C_SLONG, &v, 0, &ind)) || ind == SQL_NULL_DATA)
        return 0;
    return int(v);
}

} // namespace

struct TStoredProc::TState {
    SQLHSTMT Stmt = SQL_NULL_HSTMT;
    unsigned Generation = 0;
    bool Active = false;
    bool Eof = true;
    std::vector<TColumn> Columns;
    std::vector<Variant> Row;
    std::vector<TBound> Bound;
    std::string RefreshedName; // ProcedureName the parameters were asked for
    std::string CallName;      // the name as the catalogue gives it, quoted
    bool UseCall = false;      // run by a CALL statement, not the driver's call escape
};

TDBConnection::THandles& TStoredProc::Require(TDBConnection* c) {
    if (!c || !c->Connected()) throw EDatabaseError("Нет соединения с базой данных.", "08003");
    return *c->H;
}

TStoredProc::TStoredProc(TDBConnection* connection)
    : Connection(connection), S(std::make_unique<TState>()) {}

TStoredProc::~TStoredProc() {
    Close();
}

namespace {

struct TFound {
    std::string Schema;
    std::string Name;
};

std::string EscapePattern(const std::string& s, const std::string& escape) {
    if (escape.empty()) return s;
    std::string out;
    for (char c : s) {
        if (c == '_' || c == '%' || escape.find(c) != std::string::npos) out += escape;
        out += c;
    }
    return out;
}

// Catalogue names may carry a version number (";1"); the call must not.
std::string StripVersion(const std::string& name) {
    size_t semi = name.rfind(';');
    return semi == std::string::npos ? name : name.substr(0, semi);
}

std::vector<TFound> FindProcedures(TDBConnection::THandles& h, int timeout,
                                   const std::string& name) {
    TStatement st(h, timeout);
    std::u16string pattern = ToWide(EscapePattern(name, h.PatternEscape));
    st.Check(
        SQLProceduresW(st.Stmt, nullptr, 0, nullptr, 0, W(pattern), SQLSMALLINT(pattern.size())));
    std::vector<TFound> found;
    SQLRETURN r;
    while (SQL_SUCCEEDED(r = SQLFetch(st.Stmt))) {
        TFound f{GetText(st.Stmt, 2), GetText(st.Stmt, 3)};
        // The pattern may match more than the name when the driver has no escape.
        if (StripVersion(f.Name) == name) found.push_back(f);
    }
    st.Check(r);
    return found;
}

// PostgreSQL runs a procedure (CREATE PROCEDURE) only by CALL: the driver's
// call escape becomes a SELECT, which takes functions alone. The ODBC
// catalogue reports both as functions, so the server's own is asked.
bool CallsWithCall(TDBConnection::THandles& h, int timeout, const TFound& found) {
    if (!h.PostgreSQL) return false;
    TStatement st(h, timeout);
    std::u16string schema = ToWide(found.Schema), name = ToWide(StripVersion(found.Name));
    SQLLEN schemaLen = SQLLEN(schema.size() * sizeof(char16_t));
    SQLLEN nameLen = SQLLEN(name.size() * sizeof(char16_t));
    st.Check(SQLBindParameter(st.Stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(1, schema.size()), 0, W(schema), schemaLen,
                              &schemaLen));
    st.Check(SQLBindParameter(st.Stmt, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(1, name.size()), 0, W(name), nameLen, &nameLen));
    std::u16string sql = ToWide("SELECT p.prokind FROM pg_catalog.pg_proc p"
                                " JOIN pg_catalog.pg_namespace n ON n.oid = p.pronamespace"
                                " WHERE n.nspname = ? AND p.proname = ?");
    st.Check(SQLExecDirectW(st.Stmt, W(sql), SQLINTEGER(sql.size())));
    bool procedure = false;
    SQLRETURN r;
    while (SQL_SUCCEEDED(r = SQLFetch(st.Stmt)))
        if (GetText(st.Stmt, 1) == "p") procedure = true;
    st.Check(r);
    return procedure;
}

} // namespace

void TStoredProc::RefreshParameters() {
    Close();
    Parameters.clear();
    S->RefreshedName.clear();
    S->CallName.clear();
    S->UseCall = false;
    auto& h = Require(Connection);
    const int timeout = Connection->CommandTimeout;

    std::vector<TFound> found = FindProcedures(h, timeout, ProcedureName);
    std::string lower = LowerCase(ProcedureName);
    if (found.empty() && lower != ProcedureName) found = FindProcedures(h, timeout, lower);
    if (found.empty())
        throw EDatabaseError("Хранимая процедура \"" + ProcedureName + "\" не найдена на сервере.");
    if (found.size() > 1)
        throw EDatabaseError("Хранимая процедура \"" + ProcedureName +
                             "\" неоднозначна: на сервере их " + std::to_string(found.size()) +
                             ".");

    TStatement st(h, timeout);
    std::u16string schema = ToWide(EscapePattern(found[0].Schema, h.PatternEscape));
    std::u16string name = ToWide(EscapePattern(found[0].Name, h.PatternEscape));
    st.Check(SQLProcedureColumnsW(st.Stmt, nullptr, 0, schema.empty() ? nullptr : W(schema),
                                  SQLSMALLINT(schema.size()), W(name), SQLSMALLINT(name.size()),
                                  nullptr, 0));
    SQLRETURN r;
    while (SQL_SUCCEEDED(r = SQLFetch(st.Stmt))) {
        if (GetText(st.Stmt, 2) != found[0].Schema || GetText(st.Stmt, 3) != found[0].Name)
            continue;
        int columnType = GetInt(st.Stmt, 5);
        if (columnType == SQL_RESULT_COL) continue;
        TParameter p;
        p.Name = GetText(st.Stmt, 4);
        p.Direction = DirectionOf(columnType);
        p.DataType = GetInt(st.Stmt, 6);
        p.Size = GetInt(st.Stmt, 8);
        p.Scale = GetInt(st.Stmt, 10);
        Parameters.push_back(std::move(p));
    }
    st.Check(r);

    std::string call = StripVersion(found[0].Name);
    const std::string& q = h.IdentifierQuote;
    if (!q.empty()) {
        std::string quoted = q;
        for (char c : call)
            quoted += (q.size() == 1 && c == q[0]) ? std::string(2, c) : std::string(1, c);
        call = quoted + q;
    }
    S->CallName = call;
    S->UseCall = CallsWithCall(h, timeout, found[0]);
    S->RefreshedName = ProcedureName;
}

void TStoredProc::Execute() {
    Close();
    if (S->RefreshedName.empty() || S->RefreshedName != ProcedureName) RefreshParameters();
    auto& h = Require(Connection);

    // Only inputs have a place in the call: the return value and outputs come
    // back in the result set. Inputs after the last given value are left out
    // so that the server's defaults apply. A procedure run by CALL also takes
    // a place for each output, filled with null, so its places reach its last
    // output.
    std::vector<const TParameter*> inputs;
    size_t used = 0;
    for (const TParameter& p : Parameters) {
        const bool output = S->UseCall && p.Direction == TParameterDirection::Output;
        if (p.Direction != TParameterDirection::Input &&
            p.Direction != TParameterDirection::InputOutput && !output)
            continue;
        inputs.push_back(&p);
        if (!p.Value.IsEmpty() || output) used = inputs.size();
    }
    inputs.resize(used);

    TStatement st(h, CommandTimeout);
    S->Bound.assign(inputs.size(), TBound{});
    for (size_t i = 0; i < inputs.size(); ++i) {
        const TParameter& p = *inputs[i];
        TBound& b = S->Bound[i];
        SQLSMALLINT cType = SQL_C_WCHAR, sqlType = SQLSMALLINT(p.DataType);
        SQLULEN size = SQLULEN(std::max(p.Size, 0));
        SQLSMALLINT scale = SQLSMALLINT(std::max(p.Scale, 0));
        SQLPOINTER data = nullptr;
        switch (p.Value.Type()) {
        case TVarType::Empty:
        case TVarType::Null:
            b.Indicator = SQL_NULL_DATA;
            data = W(b.Text);
            if (!sqlType) sqlType = SQL_WVARCHAR;
            break;
        case TVarType::Boolean:
            b.Bit = p.Value.AsBoolean() ? 1 : 0;
            cType = SQL_C_BIT, data = &b.Bit;
            if (!sqlType) sqlType = SQL_BIT;
            break;
        case TVarType::Integer:
            b.Integer = p.Value.AsInteger();
            cType = SQL_C_SBIGINT, data = &b.Integer;
            if (!sqlType) sqlType = SQL_BIGINT;
            break;
        case TVarType::Double:
            b.Double = p.Value.AsDouble();
            cType = SQL_C_DOUBLE, data = &b.Double;
            if (!sqlType) sqlType = SQL_DOUBLE;
            break;
        case TVarType::DateTime: {
            TDateTimeParts t = DecodeDateTime(p.Value.AsDateTime());
            b.Stamp = {SQLSMALLINT(t.Year),
                       SQLUSMALLINT(t.Month),
                       SQLUSMALLINT(t.Day),
                       SQLUSMALLINT(t.Hour),
                       SQLUSMALLINT(t.Minute),
                       SQLUSMALLINT(t.Second),
                       SQLUINTEGER(t.Millisecond) * 1000000u};
            cType = SQL_C_TYPE_TIMESTAMP, data = &b.Stamp;
            if (!sqlType) sqlType = SQL_TYPE_TIMESTAMP;
            if (sqlType == SQL_TYPE_TIMESTAMP) size = 23, scale = 3;
            break;
        }
        case TVarType::Text:
            b.Text = ToWide(p.Value.AsString());
            b.Indicator = SQLLEN(b.Text.size() * sizeof(char16_t));
            data = W(b.Text);
            if (!sqlType) sqlType = SQL_WVARCHAR;
            break;
        }
        if (IsCharType(sqlType)) size = std::max<SQLULEN>(1, b.Text.size());
        st.Check(SQLBindParameter(st.Stmt, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, cType, sqlType,
                                  size, scale, data, b.Indicator > 0 ? b.Indicator : 0,
                                  &b.Indicator));
    }

    std::string sql = (S->UseCall ? "CALL " : "{call ") + S->CallName + "(";
    for (size_t i = 0; i < inputs.size(); ++i) sql += i ? ",?" : "?";
    sql += S->UseCall ? ")" : ")}";
    std::u16string wsql = ToWide(sql);
    SQLRETURN r = SQLExecDirectW(st.Stmt, W(wsql), SQLINTEGER(wsql.size()));
    if (r != SQL_NO_DATA) st.Check(r);
    S->Generation = h.Generation;
    S->Stmt = st.Release();
}

void TStoredProc::ExecProc() {
    Execute();
    TScopeExit close([this] { Close(); });
    // Errors a server reports after the first result come with the next ones.
    SQLRETURN r;
    while (SQL_SUCCEEDED(r = SQLMoreResults(S->Stmt))) {
    }
    if (r == SQL_ERROR)
        RaiseDiag(SQL_HANDLE_STMT, S->Stmt, Connection->H->Dbc, &Connection->H->Lost);
}

void TStoredProc::Open() {
    Execute();
    TScopeFail closeOnError([this] { Close(); });
    SQLSMALLINT count = 0;
    SQLRETURN r = SQLNumResultCols(S->Stmt, &count);
    // A procedure may report counts of changed rows before its result set.
    while (SQL_SUCCEEDED(r) && count == 0 && SQL_SUCCEEDED(r = SQLMoreResults(S->Stmt)))
        r = SQLNumResultCols(S->Stmt, &count);
    if (r == SQL_ERROR)
        RaiseDiag(SQL_HANDLE_STMT, S->Stmt, Connection->H->Dbc, &Connection->H->Lost);
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(count); ++c) {
        SQLWCHAR name[256];
        SQLSMALLINT len = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(S->Stmt, c, name, SQLSMALLINT(std::size(name)), &len,
                                           &type, &size, &digits, &nullable)))
            RaiseDiag(SQL_HANDLE_STMT, S->Stmt, Connection->H->Dbc, &Connection->H->Lost);
        TColumn col;
        col.Name = FromWide(name, size_t(std::clamp<SQLSMALLINT>(len, 0, std::size(name) - 1)));
        col.Folded = Fold(col.Name);
        col.Type = type;
        S->Columns.push_back(std::move(col));
    }
    S->Active = true;
    FetchRow();
}

void TStoredProc::FetchRow() {
    S->Row.clear();
    S->Eof = true;
    if (S->Columns.empty()) return;
    auto& h = *Connection->H;
    SQLRETURN r = SQLFetch(S->Stmt);
    if (r == SQL_NO_DATA) return;
    if (!SQL_SUCCEEDED(r)) RaiseDiag(SQL_HANDLE_STMT, S->Stmt, h.Dbc, &h.Lost);
    for (SQLUSMALLINT c = 1; c <= S->Columns.size(); ++c) {
        SQLHSTMT st = S->Stmt;
        SQLLEN ind = 0;
        auto get = [&](SQLSMALLINT cType, SQLPOINTER p, SQLLEN len) {
            if (!SQL_SUCCEEDED(SQLGetData(st, c, cType, p, len, &ind)))
                RaiseDiag(SQL_HANDLE_STMT, st, h.Dbc, &h.Lost);
            return ind != SQL_NULL_DATA;
        };
        Variant v = Variant::Null();
        switch (S->Columns[c - 1].Type) {
        case SQL_BIT: {
            unsigned char b = 0;
            if (get(SQL_C_BIT, &b, sizeof b)) v = b != 0;
            break;
        }
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT: {
            int64_t i = 0;
            if (get(SQL_C_SBIGINT, &i, sizeof i)) v = i;
            break;
        }
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_NUMERIC:
        case SQL_DECIMAL: {
            double d = 0;
            if (get(SQL_C_DOUBLE, &d, sizeof d)) v = d;
            break;
        }
        case SQL_DATE:
        case SQL_TIMESTAMP:
        case SQL_TYPE_DATE:
        case SQL_TYPE_TIMESTAMP: {
            SQL_TIMESTAMP_STRUCT t = {};
            if (get(SQL_C_TYPE_TIMESTAMP, &t, sizeof t))
                v = Variant::FromDateTime(EncodeDateTime(t.year, t.month, t.day, t.hour, t.minute,
                                                         t.second, int(t.fraction / 1000000)));
            break;
        }
        case SQL_TIME:
        case SQL_TYPE_TIME: {
            SQL_TIME_STRUCT t = {};
            if (get(SQL_C_TYPE_TIME, &t, sizeof t))
                v = Variant::FromDateTime((t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0);
            break;
        }
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY: {
            bool isNull = false;
            std::string bytes = GetBytes(st, c, isNull);
            if (!isNull) v = std::move(bytes);
            break;
        }
        default: {
            bool isNull = false;
            std::string text = GetText(st, c, &isNull);
            if (!isNull) v = std::move(text);
            break;
        }
        }
        S->Row.push_back(std::move(v));
    }
    S->Eof = false;
}

void TStoredProc::Close() {
    if (S->Stmt != SQL_NULL_HSTMT) {
        // A statement of a connection closed since is gone with it.
        if (Connection && Connection->H->Dbc != SQL_NULL_HDBC &&
            Connection->H->Generation == S->Generation)
            SQLFreeHandle(SQL_HANDLE_STMT, S->Stmt);
        S->Stmt = SQL_NULL_HSTMT;
    }
    S->Active = false;
    S->Eof = true;
    S->Columns.clear();
    S->Row.clear();
    S->Bound.clear();
}

bool TStoredProc::Active() const {
    return S->Active;
}

bool TStoredProc::Eof() const {
    return S->Eof;
}

void TStoredProc::Next() {
    if (!S->Active || S->Eof) return;
    FetchRow();
}

int TStoredProc::FieldCount() const {
    return int(S->Columns.size());
}

std::string TStoredProc::FieldName(int index) const {
    if (index < 0 || index >= FieldCount())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return S->Columns[size_t(index)].Name;
}

Variant TStoredProc::Fields(int index) const {
    if (index < 0 || index >= FieldCount())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    if (S->Eof)
        throw EDatabaseError("Нет текущей записи: набор данных пуст или прочитан до конца.");
    return S->Row[size_t(index)];
}

int TStoredProc::FindField(const std::string& name) const {
    std::u16string folded = Fold(name);
    for (size_t i = 0; i < S->Columns.size(); ++i)
        if (S->Columns[i].Folded == folded) return int(i);
    return -1;
}

Variant TStoredProc::FieldByName(const std::string& name) const {
    int i = FindField(name);
    if (i < 0)
        throw EDatabaseError("Поле \"" + name + "\" не найдено в результате процедуры \"" +
                             ProcedureName + "\".");
    return Fields(i);
}

} // namespace nuq
