// The floor of the start-up figure: the smallest Qt widgets program that
// shows a window and then sends one request, started the way the client is.
// Its request is named "QtStart" for the relay's log.
#include <QApplication>
#include <QLabel>
#include <QTcpSocket>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const quint16 port = quint16(QByteArray(argv[1]).toUShort());
    QLabel window(QStringLiteral("start"));
    window.show();
    QTcpSocket socket;
    QTimer::singleShot(0, [&] {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        socket.write("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "d\r\n<ns:QtStart/>\r\n0\r\n\r\n");
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &app, &QApplication::quit);
    QTimer::singleShot(5000, &app, &QApplication::quit);
    return app.exec();
}
