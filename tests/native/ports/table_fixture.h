// A zeroed port table on the heap for tests.
#pragma once
#include <cstdlib>
#include <memory>

#include "ports/port_table.h"

struct TableDeleter {
    void operator()(PortTable* t) const { free(t); }
};
using TablePtr = std::unique_ptr<PortTable, TableDeleter>;

inline TablePtr newTable()
{
    return TablePtr(static_cast<PortTable*>(calloc(1, sizeof(PortTable))));
}

inline void makePresent(PortTable* t, int index, const char* com)
{
    std::string name = std::string("\\\\.\\NULL_") + com;
    writePortEntry(t, index, name.c_str(), "192.0.2.7", "502", "enable", "tcpc", "6001");
    t->entries[index].present = 1;
}
