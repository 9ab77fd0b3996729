#include "exporter/http_request.h"

#include <QString>
#include <QUrl>

#include <http_parser.h>

namespace exporter {

struct RequestReader::Parser {
    http_parser parser = {};
    http_parser_settings settings = {};
    HttpRequest request;
    QByteArray target;
    QByteArray field; // the header being read, lower case
    bool inValue = false;
    bool authorizationSeen = false;
    bool capturing = false; // the value being read is the Authorization header's
    bool complete = false;

    static Parser& of(http_parser* p) { return *static_cast<Parser*>(p->data); }

    Parser() {
        http_parser_init(&parser, HTTP_REQUEST);
        parser.data = this;
        // Each callback may come in pieces: a header can end in one read and go on in the next.
        settings.on_url = [](http_parser* p, const char* at, size_t length) {
            of(p).target.append(at, qsizetype(length));
            return 0;
        };
        settings.on_header_field = [](http_parser* p, const char* at, size_t length) {
            Parser& self = of(p);
            if (self.inValue)
                self.field.clear();
            self.inValue = false;
            self.field.append(QByteArray(at, qsizetype(length)).toLower());
            return 0;
        };
        settings.on_header_value = [](http_parser* p, const char* at, size_t length) {
            Parser& self = of(p);
            // The first Authorization header counts, as in Go's Header.Get.
            if (!self.inValue) {
                self.capturing = self.field == "authorization" && !self.authorizationSeen;
                self.authorizationSeen = self.authorizationSeen || self.capturing;
            }
            if (self.capturing)
                self.request.authorization.append(at, qsizetype(length));
            self.inValue = true;
            return 0;
        };
        settings.on_headers_complete = [](http_parser* p) {
            Parser& self = of(p);
            self.request.method = http_method_str(http_method(p->method));
            self.request.path = QUrl::fromEncoded(self.target).path();
            return 0;
        };
        settings.on_message_complete = [](http_parser* p) {
            Parser& self = of(p);
            // After an upgrade (or CONNECT) what follows is not HTTP: it is answered, then let go.
            self.request.keepAlive = http_should_keep_alive(p) != 0 && !p->upgrade;
            self.complete = true;
            http_parser_pause(p, 1); // the next request waits until this one is answered
            return 0;
        };
    }
};

RequestReader::RequestReader() : m_parser(std::make_unique<Parser>()) {}

RequestReader::~RequestReader() = default;

RequestReader::Read RequestReader::read(QByteArrayView data) {
    Parser& p = *m_parser;
    const size_t used =
        http_parser_execute(&p.parser, &p.settings, data.data(), size_t(data.size()));
    if (p.complete)
        return {qsizetype(used), true, false};
    // Short of a request's end, whatever it leaves is what it could not read.
    return {qsizetype(used), false,
            HTTP_PARSER_ERRNO(&p.parser) != HPE_OK || qsizetype(used) < data.size()};
}

HttpRequest RequestReader::take() {
    Parser& p = *m_parser;
    HttpRequest out = std::move(p.request);
    // The next request's first header begins a field anew.
    p.request = {};
    p.target.clear();
    p.authorizationSeen = false;
    p.complete = false;
    http_parser_pause(&p.parser, 0);
    return out;
}

} // namespace exporter
