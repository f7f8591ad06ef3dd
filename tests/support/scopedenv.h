// Environment variables set for one scope, for tests.
#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

namespace testsupport {

// Sets environment variables for one scope and puts the old values back.
class ScopedEnv final
{
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    void set(const char *name, const QString &value)
    {
        save(name);
        qputenv(name, value.toUtf8());
    }
    void unset(const char *name)
    {
        save(name);
        qunsetenv(name);
    }
    ~ScopedEnv()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->set)
                qputenv(it->name.constData(), it->value);
            else
                qunsetenv(it->name.constData());
        }
    }

private:
    struct Saved {
        QByteArray name, value;
        bool set;
    };
    void save(const char *name)
    {
        m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    }
    std::vector<Saved> m_saved;
};

} // namespace testsupport
