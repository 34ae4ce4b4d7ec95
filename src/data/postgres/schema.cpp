#include "data/postgres/internal.h"

namespace ado::postgres {

SchemaReport Session::inspectSchema() {
    SchemaReport report;
    bool ticketTable = false, rekeyTable = false, draftTable = false;
    const auto tables =
        prepare(QStringLiteral("select tablename from pg_catalog.pg_tables "
                               "where schemaname='public' and tablename like 'jr\\_%'"));
    while (tables->step()) {
        const QString name = tables->value(0).toString();
        ++report.tables;
        report.keyTables = report.keyTables || name == QLatin1String("jr_vault") ||
                           name == QLatin1String("jr_key");
        report.vaultTable = report.vaultTable || name == QLatin1String("jr_vault");
        ticketTable = ticketTable || name == QLatin1String("jr_ticket");
        rekeyTable = rekeyTable || name == QLatin1String("jr_rekey");
        draftTable = draftTable || name == QLatin1String("jr_draft");
    }
    // Its writers still hold table rights and no function to save through, or it has no
    // place for a re-key under way or for drafts.
    report.outdated = report.keyTables && !(ticketTable && rekeyTable && draftTable);
    // Only the owner can add these; a trigger or a rule would still run as whoever writes.
    const auto extra =
        prepare(QStringLiteral("select t.tgname from pg_catalog.pg_trigger t "
                               "join pg_catalog.pg_class r on r.oid=t.tgrelid "
                               "join pg_catalog.pg_namespace n on n.oid=r.relnamespace "
                               "where n.nspname='public' and not t.tgisinternal "
                               "union all select rulename from pg_catalog.pg_rules "
                               "where schemaname='public'"));
    while (extra->step())
        report.unknown << extra->value(0).toString();
    return report;
}

} // namespace ado::postgres
