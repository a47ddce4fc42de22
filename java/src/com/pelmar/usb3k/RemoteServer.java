package com.pelmar.usb3k;

import java.io.IOException;
import java.net.ConnectException;
import java.net.Inet6Address;
import java.net.InetAddress;
import java.net.URI;
import java.net.URISyntaxException;
import java.net.UnknownHostException;
import java.net.http.HttpClient;
import java.net.http.HttpRequest;
import java.net.http.HttpResponse;
import java.net.http.HttpTimeoutException;
import java.net.http.WebSocketHandshakeException;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.CompletionException;
import java.util.concurrent.ExecutionException;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLException;

/**
 * One usb3k-server as a client sees it: its address, the token and the TLS context, the device list
 * of {@code GET /v1/devices}, and the streams of {@code GET /v1/stream} that remote decoders hold.
 * Turns each refusal and network failure into a {@link Usb3kException} with its reason, likely cause
 * and fix.
 */
final class RemoteServer {
    /** How long a connection to the server may take to open. */
    static final Duration CONNECT_TIMEOUT = Duration.ofSeconds(10);

    /** How long the device list may take, answer included. */
    static final Duration LIST_TIMEOUT = Duration.ofSeconds(30);

    private final URI base;
    private final String token;
    private final HttpClient client;

    RemoteServer(URI server, String token, SSLContext tls) throws Usb3kException {
        Objects.requireNonNull(server, "server");
        TokenFile.checkToken(Objects.requireNonNull(token, "token"));
        String text = server.toString();
        this.base = URI.create(text.endsWith("/") ? text : text + "/");
        String scheme = base.getScheme();
        if (!"http".equals(scheme) && !"https".equals(scheme)) {
            throw new IllegalArgumentException("a server is an http:// or https:// URI: " + server);
        }
        this.token = token;
        HttpClient.Builder builder = HttpClient.newBuilder().connectTimeout(CONNECT_TIMEOUT);
        if (tls != null) {
            builder.sslContext(tls);
        }
        this.client = builder.build();
    }

    URI uri() {
        return base;
    }

    /**
     * The servers behind this address: for an {@code http://} host name that resolves to several
     * addresses (a Kubernetes headless Service's), one server per address, in the resolver's
     * order; else the server itself. An {@code https://} name stays one server, since the JDK's
     * HttpClient verifies the certificate against the host it connects to and cannot be told to
     * connect to an address while verifying a name.
     */
    static List<RemoteServer> ofEachAddress(URI server, String token, SSLContext tls)
            throws Usb3kException {
        RemoteServer named = new RemoteServer(server, token, tls);
        String host = named.base.getHost();
        if (!"http".equals(named.base.getScheme()) || host == null || isAddress(host)) {
            return List.of(named);
        }
        InetAddress[] addresses;
        try {
            addresses = InetAddress.getAllByName(host);
        } catch (UnknownHostException e) {
            return List.of(named);
        }
        if (addresses.length < 2) {
            return List.of(named);
        }
        List<RemoteServer> servers = new ArrayList<>();
        for (InetAddress address : addresses) {
            String literal = address.getHostAddress();
            if (address instanceof Inet6Address) {
                literal = "[" + literal.replaceFirst("%.*", "") + "]";
            }
            try {
                URI base = named.base;
                servers.add(new RemoteServer(
                        new URI(base.getScheme(), base.getUserInfo(), literal, base.getPort(),
                                base.getPath(), base.getQuery(), base.getFragment()),
                        token, tls));
            } catch (URISyntaxException e) {
                return List.of(named);
            }
        }
        return servers;
    }

    private static boolean isAddress(String host) {
        return host.startsWith("[") || host.matches("[0-9.]+");
    }

    /** The server's devices, with their states. */
    List<RemoteDevice> devices() throws Usb3kException {
        HttpRequest request =
                HttpRequest.newBuilder(base.resolve("v1/devices"))
                        .timeout(LIST_TIMEOUT)
                        .header("Authorization", "Bearer " + token)
                        .GET()
                        .build();
        HttpResponse<String> response;
        try {
            response = client.send(request, HttpResponse.BodyHandlers.ofString());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new Usb3kException(
                    Usb3kException.Reason.OTHER,
                    "interrupted while listing the devices of " + base,
                    List.of());
        } catch (IOException e) {
            throw unreachable(e);
        }
        if (response.statusCode() != 200) {
            throw refused(response.statusCode(), response.body().strip());
        }
        List<RemoteDevice> devices = new ArrayList<>();
        try {
            for (Object item : (List<?>) JsonText.parse(response.body())) {
                Map<?, ?> device = (Map<?, ?>) item;
                boolean usable = Boolean.TRUE.equals(device.get("usable"));
                devices.add(
                        new RemoteDevice(
                                new Usb3kDevice(
                                        (String) device.get("serialNumber"),
                                        (String) device.get("description"),
                                        usable,
                                        usable ? (String) device.get("productId") : null,
                                        usable ? (String) device.get("version") : null,
                                        usable ? null : (String) device.get("reason")),
                                String.valueOf(device.get("state"))));
            }
        } catch (ClassCastException | IllegalArgumentException e) {
            throw new Usb3kException(
                    Usb3kException.Reason.DEVICE_LIST_FAILED,
                    base + " answered GET /v1/devices with no device list: " + e.getMessage(),
                    List.of(),
                    "it is not usb3k-server, or one of another version",
                    "check the address and port of the server");
        }
        return devices;
    }

    /** A device of the list and its state there: {@code free}, {@code busy} or {@code away}. */
    record RemoteDevice(Usb3kDevice device, String state) {}

    /**
     * A stream on the device with this serial number, once the server gives it (it may wait for it
     * in its queue, up to its queue time-out).
     */
    RemoteStream openStream(String serialNumber) throws Usb3kException {
        URI http = base.resolve("v1/stream?device=" + serialNumber);
        URI ws = URI.create(("https".equals(base.getScheme()) ? "wss" : "ws")
                + http.toString().substring(base.getScheme().length()));
        RemoteStream stream = new RemoteStream(this, serialNumber);
        try {
            stream.attach(
                    client.newWebSocketBuilder()
                            .connectTimeout(CONNECT_TIMEOUT)
                            .header("Authorization", "Bearer " + token)
                            .buildAsync(ws, stream)
                            .get());
            return stream;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new Usb3kException(
                    Usb3kException.Reason.OTHER,
                    "interrupted while waiting for USB-3000 " + serialNumber + " of " + base,
                    List.of());
        } catch (ExecutionException | CompletionException e) {
            Throwable cause = e.getCause() != null ? e.getCause() : e;
            if (cause instanceof WebSocketHandshakeException refusal) {
                int status = refusal.getResponse().statusCode();
                if (status == 404) {
                    throw new Usb3kException(
                            Usb3kException.Reason.NO_SUCH_DEVICE,
                            "no USB-3000 with serial number " + serialNumber + " is attached to "
                                    + base,
                            List.of(),
                            "",
                            "check the serial number against the server's device list");
                }
                throw refused(status, status == 503 && draining() ? "server draining" : "");
            }
            throw unreachable(cause);
        }
    }

    /** Whether the server says it is draining (its readiness text). */
    private boolean draining() {
        try {
            HttpResponse<String> ready =
                    client.send(
                            HttpRequest.newBuilder(base.resolve("readyz"))
                                    .timeout(CONNECT_TIMEOUT)
                                    .build(),
                            HttpResponse.BodyHandlers.ofString());
            return ready.body().strip().equals("draining");
        } catch (IOException e) {
            return false;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    /** The exception for a refusal with this status; text is the server's, or empty. */
    Usb3kException refused(int status, String text) {
        if (status == 401) {
            return failure(Usb3kException.Reason.UNAUTHORISED, base + " refused the token (401)");
        }
        if (status == 503 && text.equals("server draining")) {
            return failure(Usb3kException.Reason.SERVER_DRAINING, base + " is draining");
        }
        if (status == 503) {
            return failure(
                    Usb3kException.Reason.NO_DEVICE_FREE,
                    "no USB-3000 of " + base + " was free within its queue time-out"
                            + (text.isEmpty() ? "" : ": " + text));
        }
        return new Usb3kException(
                Usb3kException.Reason.OTHER,
                base + " answered " + status + (text.isEmpty() ? "" : ": " + text),
                List.of());
    }

    /** The exception for a server that could not be reached, or whose certificate is refused. */
    Usb3kException unreachable(Throwable cause) {
        Usb3kException failure;
        if (cause instanceof SSLException) {
            failure = failure(
                    Usb3kException.Reason.SERVER_NOT_TRUSTED,
                    base + " could not be trusted: " + cause.getMessage());
        } else if (cause instanceof ConnectException || cause instanceof HttpTimeoutException) {
            failure = failure(
                    Usb3kException.Reason.SERVER_UNREACHABLE,
                    base + " could not be reached: " + describe(cause));
        } else {
            failure = failure(
                    Usb3kException.Reason.SERVER_UNREACHABLE,
                    "the connection to " + base + " failed: " + describe(cause));
        }
        failure.initCause(cause);
        return failure;
    }

    private static String describe(Throwable cause) {
        return cause.getMessage() != null ? cause.getMessage() : cause.getClass().getSimpleName();
    }

    /** An exception of a network reason with its likely cause and fix. */
    static Usb3kException failure(Usb3kException.Reason reason, String message) {
        return new Usb3kException(reason, message, List.of(), likelyCause(reason), fix(reason));
    }

    static String likelyCause(Usb3kException.Reason reason) {
        return switch (reason) {
            case UNAUTHORISED -> "the token is wrong, or was removed from the server's token file";
            case SERVER_UNREACHABLE ->
                    "usb3k-server is not running there, the address or port is wrong, or a"
                            + " firewall is in the way";
            case SERVER_DRAINING -> "the server is stopping or restarting";
            case NO_DEVICE_FREE -> "every USB-3000 of the server is held by other streams";
            case SERVER_NOT_TRUSTED ->
                    "its certificate is not signed by an authority this JVM trusts, or does not"
                            + " name the address used";
            default -> "";
        };
    }

    static String fix(Usb3kException.Reason reason) {
        return switch (reason) {
            case UNAUTHORISED ->
                    "use a token from the server's token file (its administrator adds a line"
                            + " name:token and runs systemctl reload usb3k-server)";
            case SERVER_UNREACHABLE ->
                    "check the address and port, and that usb3k-server runs there"
                            + " (systemctl status usb3k-server)";
            case SERVER_DRAINING -> "try again shortly, or use another server";
            case NO_DEVICE_FREE ->
                    "try again later, close decoders that are not needed, or add a USB-3000 or"
                            + " a server";
            case SERVER_NOT_TRUSTED ->
                    "add the server's certificate authority to the JVM's trust store, or pass an"
                            + " SSLContext that trusts it";
            default -> "";
        };
    }

    @Override
    public String toString() {
        return base.toString();
    }
}
