// Which proxy the client takes: the configuration, the environment as curl reads it, no_proxy.
#include "ProxyChoice.h"

#include <QtTest>

#include <map>
#include <string>

namespace
{

// "name=value;name=value" as an environment.
ProxyChoice::Environment environment(const QString& text)
{
    auto values = std::make_shared<std::map<std::string, std::string>>();
    for (const QString& pair : text.split(';', Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf('=');
        (*values)[pair.left(eq).toStdString()] = pair.mid(eq + 1).toStdString();
    }
    return [values](const char* name) -> const char* {
        const auto it = values->find(name);
        return it == values->end() ? nullptr : it->second.c_str();
    };
}

} // namespace

class TstProxyChoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<bool>("https");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("env");
        QTest::addColumn<QString>("proxy");  // describe(), "user:password@" in front if any
        QTest::addColumn<QString>("source"); // empty: nothing named one

        const auto row = [](const char* tag, const char* configured, bool https, const char* host,
                            const char* env, const char* proxy, const char* source) {
            QTest::newRow(tag) << configured << https << host << env << proxy << source;
        };
        row("nothing set", "", false, "print.corp", "", "none", "");
        row("http_proxy for http", "", false, "print.corp", "http_proxy=http://p:3128", "p:3128",
            "http_proxy");
        row("upper case too", "", false, "print.corp", "HTTP_PROXY=p:8080", "p:8080", "HTTP_PROXY");
        row("lower case first", "", false, "print.corp", "http_proxy=a:1;HTTP_PROXY=b:2", "a:1",
            "http_proxy");
        row("https_proxy for https", "", true, "print.corp",
            "http_proxy=plain:1;https_proxy=secure:2", "secure:2", "https_proxy");
        row("https ignores http_proxy", "", true, "print.corp", "http_proxy=plain:1", "none", "");
        row("all_proxy last", "", true, "print.corp", "all_proxy=any:9", "any:9", "all_proxy");
        row("default port 1080", "", false, "print.corp", "http_proxy=p", "p:1080", "http_proxy");
        row("credentials, percent-decoded", "", false, "print.corp",
            "http_proxy=http://al%40ice:p%3Ass@p:3128/", "al@ice:p:ss@p:3128", "http_proxy");
        row("IPv6 proxy", "", false, "print.corp", "http_proxy=http://[::1]:3128", "[::1]:3128",
            "http_proxy");
        row("TLS proxy not usable", "", true, "print.corp", "https_proxy=https://p:443", "none",
            "https_proxy");
        row("bad port", "", false, "print.corp", "http_proxy=p:99999", "none", "http_proxy");
        // no_proxy
        row("no_proxy name", "", false, "print.corp", "http_proxy=p:1;no_proxy=print.corp", "none",
            "no_proxy");
        row("no_proxy domain suffix", "", false, "a.print.corp",
            "http_proxy=p:1;no_proxy=print.corp", "none", "no_proxy");
        row("no_proxy leading dot", "", false, "a.print.corp",
            "http_proxy=p:1;no_proxy=.print.corp", "none", "no_proxy");
        row("no_proxy not a part of a label", "", false, "xprint.corp",
            "http_proxy=p:1;no_proxy=print.corp", "p:1", "http_proxy");
        row("no_proxy case", "", false, "PRINT.Corp.", "http_proxy=p:1;no_proxy=print.CORP", "none",
            "no_proxy");
        row("no_proxy list with blanks", "", false, "b.lan", "http_proxy=p:1;no_proxy=a.lan, b.lan",
            "none", "no_proxy");
        row("no_proxy star", "", false, "anything", "http_proxy=p:1;no_proxy=*", "none",
            "no_proxy");
        row("no_proxy address", "", false, "10.1.2.3", "http_proxy=p:1;no_proxy=10.1.2.3", "none",
            "no_proxy");
        row("no_proxy CIDR inside", "", false, "10.1.2.3", "http_proxy=p:1;no_proxy=10.0.0.0/8",
            "none", "no_proxy");
        row("no_proxy CIDR outside", "", false, "11.1.2.3", "http_proxy=p:1;no_proxy=10.0.0.0/8",
            "p:1", "http_proxy");
        row("no_proxy CIDR odd prefix", "", false, "192.168.1.200",
            "http_proxy=p:1;no_proxy=192.168.1.128/25", "none", "no_proxy");
        row("no_proxy IPv6 range", "", false, "[fd00::5]", "http_proxy=p:1;no_proxy=fd00::/8",
            "none", "no_proxy");
        row("a name never matches an address", "", false, "10.1.2.3",
            "http_proxy=p:1;no_proxy=1.2.3", "p:1", "http_proxy");
        row("NO_PROXY upper case", "", false, "print.corp", "http_proxy=p:1;NO_PROXY=print.corp",
            "none", "NO_PROXY");
        // The configuration wins over the environment.
        row("configured", "http://cfg:8080", false, "print.corp", "http_proxy=env:1", "cfg:8080",
            "configuration");
        row("configured for https", "cfg:8080", true, "print.corp", "https_proxy=env:1", "cfg:8080",
            "configuration");
        row("configured despite no_proxy", "cfg:8080", false, "print.corp", "no_proxy=*",
            "cfg:8080", "configuration");
        row("configured none", "None", false, "print.corp", "http_proxy=env:1", "none",
            "configuration");
    }

    void choice()
    {
        QFETCH(QString, configured);
        QFETCH(bool, https);
        QFETCH(QString, host);
        QFETCH(QString, env);
        const ProxyChoice c =
            ProxyChoice::For(configured.toStdString(), https, host.toStdString(), environment(env));
        QString shown = QString::fromStdString(c.describe());
        if (!c.user.empty())
            shown = QString::fromStdString(c.user + ':' + c.password + '@') + shown;
        QTEST(shown, "proxy");
        QTEST(QString::fromStdString(c.source), "source");
        // A setting that names no usable proxy says why.
        const QByteArray tag(QTest::currentDataTag());
        QCOMPARE(!c.error.empty(), tag.contains("not usable") || tag.contains("bad port"));
    }

    void hostOfEndpoint_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<QString>("host");
        QTest::newRow("name and port") << "https://print.corp:8086"
                                       << "print.corp";
        QTest::newRow("path") << "http://10.0.0.1:8086/x:1"
                              << "10.0.0.1";
        QTest::newRow("IPv6") << "http://[fd00::1]:8086"
                              << "fd00::1";
        QTest::newRow("no port") << "http://print.corp"
                                 << "print.corp";
    }

    void hostOfEndpoint()
    {
        QFETCH(QString, endpoint);
        QTEST(QString::fromStdString(ProxyChoice::HostOf(endpoint.toStdString())), "host");
    }
};

QTEST_GUILESS_MAIN(TstProxyChoice)
#include "tst_proxychoice.moc"
