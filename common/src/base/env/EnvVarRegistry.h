// Internal to corvane_base.
// The process-wide list of declared settings, in registration order, with
// search and text and HTML dumps. Registrations are added and removed during
// static construction and destruction only, so the list has no lock.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/env/EnvVar.h"

namespace Corvane {

class EnvVarRegistry {
public:
    // Field numbers for find() and getFieldValueAsStr().
    enum Field : int { kFieldName = 0, kFieldValue = 1, kFieldDefault = 2, kFieldFile = 3 };

    virtual ~EnvVarRegistry() = default;
    virtual BaseRegEnvVar* getEnvVar(int index) const = 0;
    // Indices of the registrations whose field matches pattern, in list
    // order: whole text when case-sensitive, else a substring in upper case.
    virtual std::vector<int> find(const std::string& pattern, int field, bool caseSensitive) const = 0;
    virtual int count() const = 0;
    virtual void remove(BaseRegEnvVar* var) = 0;
    virtual void dump(std::ostream& out) const = 0;
    virtual void dumpHtml(std::ostream& out) const = 0;
};

class EnvVarRegistryImp : public EnvVarRegistry {
public:
    static EnvVarRegistryImp& getInstance();

    BaseRegEnvVar* getEnvVar(int index) const override;
    std::vector<int> find(const std::string& pattern, int field, bool caseSensitive) const override;
    int count() const override { return static_cast<int>(vars_.size()); }
    void remove(BaseRegEnvVar* var) override;
    void dump(std::ostream& out) const override;
    void dumpHtml(std::ostream& out) const override;

    void add(BaseRegEnvVar* var) { vars_.push_back(var); }
    std::string getFieldValueAsStr(int index, int field) const;

private:
    EnvVarRegistryImp() = default;

    std::vector<BaseRegEnvVar*> vars_;  // not owned
};

}  // namespace Corvane
