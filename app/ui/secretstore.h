// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <memory>

// The desktop's secret store, where "记住密码" keeps a server password (never
// the settings file). The application uses the session's keyring through
// QtKeychain; tests put a store of their own in its place.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    struct Secret
    {
        enum State
        {
            Found,
            Missing,     // nothing kept under the key
            Unavailable, // no secret store on this desktop (or it did not answer)
        };
        State state = Missing;
        QString text;  // Found: the secret
        QString error; // Unavailable: why
    };
    virtual Secret read(const QString& key) = 0;
    // False with *error when the secret could not be kept.
    virtual bool write(const QString& key, const QString& secret, QString* error) = 0;
    virtual void remove(const QString& key) = 0;
};

// The store in use; the keyring's unless a test set another.
SecretStore& secretStore();
// Replaces the store (null puts the keyring's back) and returns the one it
// replaces (null: the keyring's); the caller keeps ownership.
SecretStore* setSecretStore(SecretStore* store);
