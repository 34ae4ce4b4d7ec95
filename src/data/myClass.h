#pragma once
// One window's way to the database: its own connection and record set.
#include "data/ado.h"

#include <QString>
#include <memory>

class myClass {
public:
    // Created on first use; a released member comes back fresh and closed.
    ado::Connection& ocn();
    ado::Recordset& rs();
    void releaseOcn() { ocn_.reset(); } // closes it first
    void releaseRs() { rs_.reset(); }
    // Closes the record set held so far and keeps `next` in its place.
    void replaceRs(std::unique_ptr<ado::Recordset> next) { rs_ = std::move(next); }
    bool hasOcn() const { return bool(ocn_); }
    bool hasRs() const { return bool(rs_); }

    // Opens ocn on the database file of the application folder, with the session's keys.
    void OpenData();
    // The keys of whoever is logged in, owned by the program's session.
    static void useKeys(vault::KeyRing* ring);
    static vault::KeyRing* keys();

    // "provider=...;data source=" + folder + "\data\data.mdb;persist security info=false"
    static QString connectionString();

    ~myClass();

private:
    std::unique_ptr<ado::Connection> ocn_;
    std::unique_ptr<ado::Recordset> rs_;
};
