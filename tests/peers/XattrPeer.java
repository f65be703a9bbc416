// The JDK's user-defined file attributes as a peer of the tests, in the dump form of
// getfattr -e hex: "java XattrPeer.java dump FILE" writes one, "restore DUMP" sets what one lists.
import static java.nio.charset.StandardCharsets.UTF_8;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.util.HexFormat;

public final class XattrPeer {
    public static void main(String[] args) throws Exception {
        UserDefinedFileAttributeView view = null;
        if (args[0].equals("dump")) {
            view = Files.getFileAttributeView(Paths.get(args[1]), UserDefinedFileAttributeView.class);
            for (String name : view.list()) {
                ByteBuffer value = ByteBuffer.allocate(view.size(name));
                view.read(name, value);
                String hex = HexFormat.of().formatHex(value.array(), 0, value.position());
                System.out.write(("user." + name + "=0x" + hex + "\n").getBytes(UTF_8));
            }
            System.out.flush();
        } else {
            for (String line : Files.readAllLines(Paths.get(args[1]), UTF_8)) {
                int value = line.lastIndexOf("=0x");
                if (line.startsWith("# file: ")) {
                    view = Files.getFileAttributeView(
                            Paths.get(line.substring(8)), UserDefinedFileAttributeView.class);
                } else if (line.startsWith("user.")) {
                    view.write(line.substring(5, value),
                            ByteBuffer.wrap(HexFormat.of().parseHex(line.substring(value + 3))));
                }
            }
        }
    }
}
