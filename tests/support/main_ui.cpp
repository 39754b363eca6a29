// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/secretstore.h"
#include "foundation/fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// No widget test reaches the desktop's own keyring: tests of "记住密码" put a store of their own in.
class NoSecrets final : public SecretStore
{
public:
    Secret read(const QString&) override { return {}; }
    bool write(const QString&, const QString&, QString* error) override
    {
        *error = QStringLiteral("the tests keep no secrets");
        return false;
    }
    void remove(const QString&) override {}
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installFontSubstitutions();
    NoSecrets none;
    setSecretStore(&none);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
