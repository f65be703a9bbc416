// The get and put loops a Java program would write with the JDK's own user-defined file
// attributes (stored in the same "user." extended attributes), timed in-process after a warm
// up, in the calling thread's CPU time like the C++ benchmarks.
//
// Usage: java -cp DIR XattrLoops FOLDER VOLUME MIN_SECONDS
// Prints one JSON object per line: runner, volume, operation, size, cpu_ns and wall_ns per
// operation, or skipped with the reason.
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.UserDefinedFileAttributeView;

public final class XattrLoops {
    private static final int[] SIZES = {16, 1024, 4096, 60 * 1024};
    private static final String NAME = "Value";
    private static final int BLOCK = 64;
    private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();
    // Keeps the results alive so that the JIT cannot drop the work.
    private static long sink;

    @FunctionalInterface
    private interface Operation {
        void run() throws IOException;
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 3) {
            System.err.println("usage: XattrLoops FOLDER VOLUME MIN_SECONDS");
            System.exit(2);
        }
        String volume = args[1];
        double minSeconds = Double.parseDouble(args[2]);
        for (int size : SIZES) {
            Path file = Paths.get(args[0], "java-" + size);
            Files.deleteIfExists(file);
            Files.createFile(file);
            UserDefinedFileAttributeView view =
                Files.getFileAttributeView(file, UserDefinedFileAttributeView.class);
            byte[] bytes = pattern(size);
            String text = new String(bytes, StandardCharsets.UTF_16LE);
            String[] operations = {"Text get", "Text put", "Data get", "Data put", "Length"};
            try {
                view.write(NAME, ByteBuffer.wrap(bytes));
            } catch (IOException e) {
                for (String operation : operations)
                    skipped(volume, operation, size, "cannot store an item of " + sizeName(size) + " (" + reason(e) + ")");
                Files.delete(file);
                continue;
            }
            Operation[] loops = {
                () -> {
                    ByteBuffer buffer = ByteBuffer.allocate(view.size(NAME));
                    view.read(NAME, buffer);
                    sink += new String(buffer.array(), 0, buffer.position(), StandardCharsets.UTF_16LE).length();
                },
                () -> view.write(NAME, ByteBuffer.wrap(text.getBytes(StandardCharsets.UTF_16LE))),
                () -> {
                    ByteBuffer buffer = ByteBuffer.allocate(view.size(NAME));
                    view.read(NAME, buffer);
                    sink += buffer.array().length;
                },
                () -> view.write(NAME, ByteBuffer.wrap(bytes)),
                () -> sink += view.size(NAME),
            };
            for (int i = 0; i < loops.length; ++i) time(volume, operations[i], size, loops[i], minSeconds);
            Files.delete(file);
        }
        if (sink == 42) System.err.println();
    }

    // Warms the loop up (JIT) for a while, then times blocks of calls until minSeconds of CPU
    // time have passed.
    private static void time(String volume, String operation, int size, Operation loop,
                             double minSeconds) throws IOException {
        long warmEnd = System.nanoTime() + (long) (0.3e9);
        while (System.nanoTime() < warmEnd)
            for (int i = 0; i < BLOCK; ++i) loop.run();
        long cpu = 0;
        long wall = 0;
        long calls = 0;
        while (cpu < minSeconds * 1e9) {
            long cpuStart = THREADS.getCurrentThreadCpuTime();
            long wallStart = System.nanoTime();
            for (int i = 0; i < BLOCK; ++i) loop.run();
            wall += System.nanoTime() - wallStart;
            cpu += THREADS.getCurrentThreadCpuTime() - cpuStart;
            calls += BLOCK;
        }
        System.out.printf("{\"runner\": \"JDK\", \"volume\": \"%s\", \"operation\": \"%s\", \"size\": \"%s\", "
                              + "\"cpu_ns\": %.1f, \"wall_ns\": %.1f, \"calls\": %d}%n",
                          volume, operation, sizeName(size), (double) cpu / calls, (double) wall / calls, calls);
    }

    private static void skipped(String volume, String operation, int size, String why) {
        System.out.printf("{\"runner\": \"JDK\", \"volume\": \"%s\", \"operation\": \"%s\", \"size\": \"%s\", "
                              + "\"skipped\": \"%s\"}%n",
                          volume, operation, sizeName(size), why.replace("\\", "\\\\").replace("\"", "\\\""));
    }

    // What the system said, without the path that the exception puts first.
    private static String reason(IOException e) {
        String message = e.getMessage() == null ? e.toString() : e.getMessage();
        int colon = message.lastIndexOf(": ");
        return colon >= 0 ? message.substring(colon + 2) : message;
    }

    // The same bytes as the C++ benchmarks store: Latin letters in UTF-16LE.
    private static byte[] pattern(int n) {
        byte[] bytes = new byte[n];
        for (int i = 0; i < n; i += 2) bytes[i] = (byte) ('a' + (i / 2) % 26);
        return bytes;
    }

    private static String sizeName(int bytes) {
        return bytes >= 1024 && bytes % 1024 == 0 ? (bytes / 1024) + " KiB" : bytes + " B";
    }
}
