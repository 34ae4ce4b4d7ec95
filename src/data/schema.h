#pragma once
namespace ado {
// The text of schema.sql, compiled in.
extern const char* const kSchemaSql;
extern const char* const kServerSchemaSql;
} // namespace ado
