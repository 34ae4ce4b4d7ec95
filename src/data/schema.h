#pragma once
namespace ado {
// The text of schema.sql, compiled in.
extern const char* const kSchemaSql;
} // namespace ado
