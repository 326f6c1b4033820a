// Build tool: writes the database the program is installed with. The settings table and its
// three rows exist only here; the program itself never creates them.
#include <sqlite3.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_installed_db FILE\n");
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
        fprintf(stderr, "make_installed_db: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    const char* sql =
        "begin transaction;"
        "create table blackmap(md5 varchar(33) PRIMARY KEY,name varchar(50),intro text,size "
        "varchar(20));"
        "create table setini(settype integer,setkey varchar(20));"
        "insert into setini values(1,'0');"
        "insert into setini values(2,'0');"
        "insert into setini values(3,'0');"
        "commit transaction;";
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) fprintf(stderr, "make_installed_db: %s\n", error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    return rc == SQLITE_OK ? 0 : 1;
}
