#pragma once
namespace ado::postgres {
// The text of schema-pg.sql, compiled in.
extern const char* const kServerSchemaSql;
} // namespace ado::postgres
