// Certificates and keys made for a test by Debian's openssl, in a folder of their own: a lab's
// CA with this computer's certificate and a client's, another CA with a stranger's, and a key
// that belongs to none of them.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <crypt.h>

class TlsFiles {
public:
    TlsFiles() {
        m_ok = authority("ca", "Lab CA") && authority("other-ca", "Other CA") &&
               signedBy("ca", "server", "lab-01", "DNS:localhost,IP:127.0.0.1,IP:::1") &&
               signedBy("ca", "client", "prometheus", "DNS:prometheus.lab,IP:10.0.0.9") &&
               signedBy("ca", "outsider", "someone", "DNS:someone.lab") &&
               signedBy("other-ca", "stranger", "stranger", "DNS:prometheus.lab") &&
               run({"ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out",
                    path("unrelated.key")}) &&
               // A lab's intermediate CA, and a client below it.
               signedBy("ca", "intermediate", "Lab intermediate",
                        "DNS:intermediate.lab\nbasicConstraints=critical,CA:TRUE") &&
               signedBy("intermediate", "chained", "chained", "DNS:prometheus.lab") &&
               signedBy("ca", "mapped", "mapped", "IP:::ffff:10.0.0.1");
    }

    // Empty when every file was made; otherwise what openssl said.
    QString error() const { return m_ok ? QString() : m_said; }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString dir() const { return m_dir.path(); }
    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool write(const QString& name, const QByteArray& data) const {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
    }

    // A bcrypt hash of PASSWORD at COST, as htpasswd -B makes it.
    static QByteArray bcrypt(const QByteArray& password, int cost = 4) {
        char setting[CRYPT_GENSALT_OUTPUT_SIZE];
        crypt_data scratch = {};
        if (!crypt_gensalt_rn("$2y$", cost, nullptr, 0, setting, sizeof setting))
            return {};
        const char* hash = crypt_r(password.constData(), setting, &scratch);
        return hash ? QByteArray(hash) : QByteArray();
    }

private:
    bool run(const QStringList& arguments) {
        QProcess openssl;
        openssl.setWorkingDirectory(m_dir.path());
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0) {
            m_said = QStringLiteral("openssl %1: %2")
                         .arg(arguments.join(u' '), QString::fromLocal8Bit(openssl.readAll()));
            return false;
        }
        return true;
    }

public:
    // NAME.crt and NAME.key, for SUBJECT with SANS, signed by CA (a name made here).
    bool signedBy(const QString& ca, const QString& name, const QString& subject,
                  const QString& sans) {
        QFile ext(path(name + ".ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write(("subjectAltName=" + sans + "\n").toUtf8());
        ext.close();
        return run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + subject}) &&
               run({"x509", "-req", "-in", name + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
                    "-CAcreateserial", "-out", name + ".crt", "-days", "3650", "-extfile",
                    name + ".ext"});
    }

private:
    bool authority(const QString& name, const QString& subject) {
        return run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", name + ".key", "-out", name + ".crt", "-days", "3650",
                    "-subj", "/CN=" + subject});
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
    QString m_said;
};
