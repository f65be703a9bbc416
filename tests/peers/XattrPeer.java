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
import java.util.Arrays;
import java.util.HexFormat;

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
                System.out.println(hex(Arrays.copyOf(value.array(), value.position())));
                break;
            case "write":
                view.write(text(args[2]), ByteBuffer.wrap(bytes(args[3])));
                break;
            default:
                System.exit(64);
        }
    }

    private static String hex(byte[] bytes) {
        return HexFormat.of().formatHex(bytes);
    }

    private static byte[] bytes(String hex) {
        return HexFormat.of().parseHex(hex);
    }

    private static String text(String hex) {
        return new String(bytes(hex), StandardCharsets.UTF_8);
    }
}
