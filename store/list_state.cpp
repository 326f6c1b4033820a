#include "store/list_state.h"

#include <vector>

#include "store/database.h"

namespace tovarek {
namespace {

// The serial is kept as decimal text: SQLite's integers are signed, the serial is not.
constexpr const char* kCreateSql =
    "create table if not exists liststate(id integer primary key check(id=1),serial text,"
    "etag text,modified text);";
constexpr const char* kSelectSql = "select serial,etag,modified from liststate where id=1";
constexpr const char* kReplaceSql = "insert or replace into liststate values(1,?,?,?)";

std::optional<uint64_t> ParseSerial(const std::string& text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

int ReadListState(Database& db, ListState& out) {
    out = ListState{};
    int rc = Execute(db, kCreateSql, false);
    if (rc != 0) return rc;
    QueryTable table;
    int rows = 0;
    int columns = 0;
    rc = Query(db, kSelectSql, table, rows, columns);
    if (rc != 0 || rows < 1 || columns < 3) return rc;
    std::map<int, std::string>& row = table[1];
    out.lastSerial = ParseSerial(row[0]);
    out.strEtag = row[1];
    out.strLastModified = row[2];
    return 0;
}

int WriteListState(Database& db, const ListState& state) {
    int rc = Execute(db, kCreateSql, false);
    if (rc != 0) return rc;
    std::vector<std::string> values{state.lastSerial ? std::to_string(*state.lastSerial) : "",
                                    state.strEtag, state.strLastModified};
    return Execute(db, kReplaceSql, values, false);
}

}  // namespace tovarek
