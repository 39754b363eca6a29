// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/secretstore.h"

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <qt6keychain/keychain.h>
#include <utility>

namespace {

const QString kService = QStringLiteral("allstats");
// A keyring that does not answer (a session without one) is given up on.
constexpr int kAnswerMs = 10000;

// Runs a keychain job to its end. The job deletes itself when it finishes, so
// one that outlives the wait cannot touch what is gone.
QKeychain::Error runJob(QKeychain::Job* job, QString* errorText,
                        const std::function<void(QKeychain::Job*)>& onDone = {})
{
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text file instead
    QEventLoop loop;
    QKeychain::Error error = QKeychain::OtherError;
    bool done = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* j) {
        error = j->error();
        *errorText = j->errorString();
        if (onDone)
            onDone(j);
        done = true;
        loop.quit();
    });
    QTimer::singleShot(kAnswerMs, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    if (!done) {
        QObject::disconnect(job, nullptr, &loop, nullptr);
        *errorText = QStringLiteral("the secret store did not answer");
        return QKeychain::NoBackendAvailable;
    }
    return error;
}

class KeychainStore final : public SecretStore
{
public:
    Secret read(const QString& key) override
    {
        auto* job = new QKeychain::ReadPasswordJob(kService);
        job->setKey(key);
        QString text;
        QString errorText;
        const QKeychain::Error error = runJob(job, &errorText, [&text](QKeychain::Job* j) {
            text = static_cast<QKeychain::ReadPasswordJob*>(j)->textData();
        });
        switch (error) {
        case QKeychain::NoError:
            return {Secret::Found, text, QString()};
        case QKeychain::EntryNotFound:
            return {Secret::Missing, QString(), QString()};
        default:
            return {Secret::Unavailable, QString(), errorText};
        }
    }

    bool write(const QString& key, const QString& secret, QString* error) override
    {
        auto* job = new QKeychain::WritePasswordJob(kService);
        job->setKey(key);
        job->setTextData(secret);
        return runJob(job, error) == QKeychain::NoError;
    }

    void remove(const QString& key) override
    {
        auto* job = new QKeychain::DeletePasswordJob(kService);
        job->setKey(key);
        QString ignored;
        runJob(job, &ignored);
    }
};

SecretStore* g_store = nullptr;

} // namespace

SecretStore& secretStore()
{
    static KeychainStore keyring;
    return g_store ? *g_store : keyring;
}

SecretStore* setSecretStore(SecretStore* store)
{
    return std::exchange(g_store, store);
}
