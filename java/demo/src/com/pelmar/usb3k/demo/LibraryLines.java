package com.pelmar.usb3k.demo;

import java.util.logging.ConsoleHandler;
import java.util.logging.Formatter;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;

/**
 * Shows the library's lines on standard error as they are, one a line, through the logger {@code
 * com.pelmar.usb3k} rather than the library's own copy there: what an application does to route
 * them into its logging, done the simplest way.
 */
final class LibraryLines {
    /** Held, so that the configuration is not lost with a logger nobody refers to. */
    private static Logger logger;

    private LibraryLines() {}

    /** Before the library is loaded: its copy on standard error is then left out. */
    static void showOnStandardError() {
        if (System.getProperty("usb3k.stderr") == null) {
            System.setProperty("usb3k.stderr", "false");
        }
        ConsoleHandler handler = new ConsoleHandler();
        handler.setLevel(Level.ALL);
        handler.setFormatter(
                new Formatter() {
                    @Override
                    public String format(LogRecord record) {
                        return record.getMessage() + System.lineSeparator();
                    }
                });
        logger = Logger.getLogger("com.pelmar.usb3k");
        logger.setLevel(Level.ALL);
        logger.setUseParentHandlers(false);
        logger.addHandler(handler);
    }
}
