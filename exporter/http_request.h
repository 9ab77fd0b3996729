// HTTP/1.1 requests as a client sends them, read by Debian's http-parser one at a time: the
// reader stops at the end of each request, so that the next one, pipelined behind it, waits
// in the connection until this one is answered.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

namespace exporter {

struct HttpRequest {
    QByteArray method;        // "GET"
    QString path;             // the target's path, decoded ("/metrics")
    QByteArray authorization; // the first Authorization header's value; empty: none
    bool keepAlive = false;   // whether the connection may carry another request after it
};

class RequestReader {
public:
    RequestReader();
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    struct Read {
        qsizetype used = 0;    // of the data given
        bool complete = false; // a request ended there: take() gives it
        bool broken = false;   // what came is not HTTP: nothing more can be read
    };
    // Reads DATA, up to the end of the first request that ends in it; once one has, nothing
    // more until take().
    Read read(QByteArrayView data);
    // The request that read() said ended, and a clean start for the next.
    HttpRequest take();

private:
    struct Parser;
    std::unique_ptr<Parser> m_parser;
};

} // namespace exporter
