// The JDK's user-defined file attributes as a peer of the tests. Names and values travel
// as hex (names as their UTF-8 bytes), so no console encoding gets in between.
//   XattrPeer list FILE              one line per attribute name
//   XattrPeer read FILE NAME         the value; exit status 2 when there is none
//   XattrPeer write FILE NAME VALUE  creates or replaces the attribute
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.nio.file.attribute.UserDefinedFileAttributeView;

public final class XattrPeer {
    private XattrPeer() {}

    public static void main(String[] args) throws Exception {
        UserDefinedFileAttributeView view =
                Files.getFileAttributeView(Paths.get(args[1]), UserDefinedFileAttributeView.class);
        switch (args[0]) {
            case "list":
                for (String name : view.list()) {
                    System.out.println(hex(name.getBytes(StandardCharsets.UTF_8)));
                }
                break;
            case "read":
                String name = text(args[2]);
                ByteBuffer value;
                try {
                    value = ByteBuffer.allocate(view.size(name));
                    view.read(name, value);
                } catch (FileSystemException missing) {
                    System.exit(2);
                    return;
                }
                System.out.println(hex(java.util.Arrays.copyOf(value.array(), value.position())));
                break;
            case "write":
                view.write(text(args[2]), ByteBuffer.wrap(bytes(args[3])));
                break;
            default:
                System.exit(64);
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder out = new StringBuilder();
        for (byte b : bytes) {
            out.append(String.format("%02x", b & 0xff));
        }
        return out.toString();
    }

    private static byte[] bytes(String hex) {
        byte[] out = new byte[hex.length() / 2];
        for (int i = 0; i < out.length; ++i) {
            out[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        return out;
    }

    private static String text(String hex) {
        return new String(bytes(hex), StandardCharsets.UTF_8);
    }
}
